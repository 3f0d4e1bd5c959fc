#pragma once
// Shared pieces of the manager's GUI tests: the program set-up (offscreen platform, private
// runtime directory, German texts, the message-box, file-dialog and tray seams), opening the
// real main window on a fresh program directory, acting as a user, and reading Pelorix.ini.

#include "base/Latin1.h"
#include "mgr/MsgBox.h"
#include "mgr/OpenDialog.h"
#include "mgr/PeloApplication.h"
#include "mgr/TBProcs.h"
#include "mgr/UnitPelo.h"
#include "svc/ServiceHelpers.h"

#include "TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace mgrtest {

inline char* RuntimeDir() {
    static char runtimeDir[] = "/tmp/pelorix-mgrtest-XXXXXX";
    return runtimeDir;
}

inline void PrepareEnvironment() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A runtime directory of our own, so Qt neither warns nor touches the user's one.
    if (mkdtemp(RuntimeDir()))
        qputenv("XDG_RUNTIME_DIR", RuntimeDir());
}

inline void CleanUpEnvironment() {
    if (qgetenv("XDG_RUNTIME_DIR") == RuntimeDir())
        QDir(QString::fromLocal8Bit(RuntimeDir())).removeRecursively();
}

inline void InstallSeams() {
    MsgBox::InstallTestSeam();
    TOpenDialog::InstallTestSeam();
    TBProcsSeam::Install(true);
    QApplication::setQuitOnLastWindowClosed(false);
}

// The value of key in [section] of an INI text; nullopt when the key is missing.
inline std::optional<std::string> IniValue(const std::string& text, const std::string& section,
                                           const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inSection = line == "[" + section + "]";
            continue;
        }
        const auto equals = line.find('=');
        if (inSection && equals != std::string::npos && line.substr(0, equals) == key)
            return line.substr(equals + 1);
    }
    return std::nullopt;
}

// The main window on a program directory, shown and past its first display.
inline std::unique_ptr<TFrmPelo> OpenWindow(const pelorix::test::TempDir& dir) {
    auto window = std::make_unique<TFrmPelo>(dir.Path());
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get(), 1000);
    QTest::qWait(1); // the first display runs from the event loop
    return window;
}

template <class T> T* Find(QObject* parent, const char* name) {
    T* child = parent->findChild<T*>(QLatin1String(name));
    if (!child)
        qFatal("no control %s", name);
    return child;
}

// Moves the focus as a click into another control would, which runs exit handlers.
inline void FocusTo(QWidget* widget) {
    widget->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
}

// Types text into a field as a user would: focus in, select all, type, focus on elsewhere.
inline void TypeInto(QWidget* field, const QString& text, QWidget* next) {
    FocusTo(field);
    QLineEdit* edit = qobject_cast<QLineEdit*>(field);
    if (auto* box = qobject_cast<QComboBox*>(field))
        edit = box->lineEdit();
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, text);
    FocusTo(next);
}

// Clicks a check box or radio button on its box, where a user would click.
inline void ClickBox(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(8, button->height() / 2));
}

inline std::vector<MsgBox::Shown> TakeBoxes() {
    std::vector<MsgBox::Shown> boxes = MsgBox::shown();
    MsgBox::clearShown();
    return boxes;
}

// Runs action while the modal dialog of type T that it opens is handled by handler.
template <class T>
void WithModal(const std::function<void()>& action, const std::function<void(T*)>& handler) {
    bool handled = false;
    QTimer::singleShot(0, [&] {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog) {
            qWarning("the expected dialog is not open");
            if (QApplication::activeModalWidget())
                QApplication::activeModalWidget()->close();
            return;
        }
        handled = true;
        handler(dialog);
        if (dialog->isVisible()) // a failed check left it open
            dialog->reject();
    });
    action();
    if (!handled)
        QFAIL("the dialog did not open");
}

} // namespace mgrtest

#define PELORIX_MGR_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char** argv) {                                                                        \
        if (const auto helper_exit = pelorix::RunHelperIfAsked(argc, argv, pelorix::ServiceHelperVerbs()))   \
            return *helper_exit;                                                                             \
        mgrtest::PrepareEnvironment();                                                                       \
        int result = 0;                                                                                      \
        {                                                                                                    \
            TPeloApplication app(argc, argv);                                                                \
            mgrtest::InstallSeams();                                                                         \
            TestClass test;                                                                                  \
            result = QTest::qExec(&test, argc, argv);                                                        \
        }                                                                                                    \
        mgrtest::CleanUpEnvironment();                                                                       \
        return result;                                                                                       \
    }
