#include "mgr/NetworkAction.h"

#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QEventLoop>
#include <QInputEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <exception>
#include <thread>

namespace {

int gLimitMs = 0;
int gRunning = 0;

// How often a held-back close looks whether it may happen now.
constexpr int kCloseRetryMs = 100;

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

class RunningMark {
public:
    RunningMark() { ++gRunning; }
    ~RunningMark() { --gRunning; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;
};

// The held-back close, once the handler that ran the action is back in the event loop and no
// box it shows afterwards is open.
void CloseWhenFree(const QPointer<QWidget>& window) {
    if (!window)
        return;
    QTimer::singleShot(kCloseRetryMs, window, [window] {
        if (QApplication::activeModalWidget() || NetworkActionRunning())
            CloseWhenFree(window);
        else
            window->close();
    });
}

// Holds back the window's close while it lives, and carries it out afterwards.
class CloseKeeper : public QObject {
public:
    explicit CloseKeeper(QWidget* window) : window_(window) {
        if (window_)
            window_->installEventFilter(this);
    }
    ~CloseKeeper() override {
        if (!window_)
            return;
        window_->removeEventFilter(this);
        if (closeAsked_)
            CloseWhenFree(window_);
    }
    CloseKeeper(const CloseKeeper&) = delete;
    CloseKeeper& operator=(const CloseKeeper&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || event->type() != QEvent::Close)
            return false;
        closeAsked_ = true;
        event->ignore();
        return true;
    }

private:
    QPointer<QWidget> window_;
    bool closeAsked_ = false;
};

// Takes no user input while it lives. The event loop of an action runs with every kind of
// event so that the window manager's close request reaches the window (and its CloseKeeper)
// during the action: a loop that excluded user input would hold that request back until the
// action is over, when the box that reports the outcome blocks the window and the close is lost.
class InputBlocker : public QObject {
public:
    InputBlocker() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputBlocker() override { QCoreApplication::instance()->removeEventFilter(this); }
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Shortcut:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return true;
        default:
            return dynamic_cast<QInputEvent*>(event) != nullptr;
        }
    }
};

} // namespace

void RunNetworkAction(QWidget* window, const std::function<void()>& work) {
    const WaitCursor wait;
    const InputBlocker blocker;
    const CloseKeeper keeper(window);
    const RunningMark running;
    const pelorix::Deadline deadline = pelorix::Deadline::In(pelorix::SystemClock::Instance(),
                                                             gLimitMs > 0 ? gLimitMs : kNetworkActionLimitMs);

    QEventLoop loop;
    std::exception_ptr error;
    std::thread worker([&] {
        {
            const pelorix::ScopedNetworkDeadline limit(deadline);
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

bool NetworkActionRunning() {
    return gRunning > 0;
}

void SetNetworkActionLimitMs(int ms) {
    gLimitMs = ms;
}
