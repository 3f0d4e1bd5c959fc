// Load on the manager's monitor receiver: one sender opens a connection per status line, as
// the service does, and sends 2,000 lines as fast as it can connect, while the window is
// clicked every 20 ms. Reports whether every line was shown (or dropped exactly as the list's
// size limit says), the throughput, and how long the window took to answer each click.
// Two rounds: an empty list, and one already holding 3,900 lines, so that the limit trims the
// list during the flood. Exits non-zero when a line is missing or a click took 100 ms or more.
//
// Runs on the offscreen platform in a private network namespace (bench/monitor.sh). BENCH_LINES
// sets another number of lines per round.

#include "mgr/MsgBox.h"
#include "mgr/PeloApplication.h"
#include "mgr/TBProcs.h"
#include "mgr/UnitPelo.h"
#include "platform/TcpSocket.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int kLines = std::getenv("BENCH_LINES") ? std::atoi(std::getenv("BENCH_LINES")) : 2000;
constexpr int kClickEveryMs = 20;
constexpr double kClickLimitMs = 100.0;

struct Round {
    int prefilled = 0;
    int shownLines = 0;
    int expectedLines = 0;
    bool complete = false;
    double sendSeconds = 0;
    int failedSends = 0;
    double showSeconds = 0;
    std::vector<double> clickMs;
};

// The line count the list's limit leaves after appending n lines one by one to `start`.
int ExpectedCount(int start, int n) {
    int count = start;
    for (int i = 0; i < n; ++i) {
        ++count;
        if (count > 4000)
            count -= 100;
    }
    return count;
}

std::string LineText(int round, int n) {
    return "[12:00:00] +Runde " + std::to_string(round) + " Zeile " + std::to_string(n);
}

Round RunRound(TFrmPelo& window, QPushButton& probe, int roundNumber, int prefill) {
    Round result;
    result.prefilled = prefill;
    window.BtnClearClick();
    {
        // Filling by hand, as if earlier lines had come in.
        QTextCursor cursor(window.List->document());
        for (int i = 0; i < prefill; ++i) {
            if (i > 0)
                cursor.insertBlock();
            cursor.insertText(QStringLiteral("[11:00:00] +alt %1").arg(i));
        }
    }
    const int start = window.List->document()->isEmpty() ? 0 : window.List->document()->blockCount();
    result.expectedLines = ExpectedCount(start, kLines);

    std::atomic<bool> sent{false};
    std::atomic<int> failedSends{0};
    QElapsedTimer clock;
    clock.start();
    double sendDone = 0;
    std::thread sender([&] {
        for (int n = 1; n <= kLines; ++n) {
            pelorix::TcpSocket socket;
            if (socket.Connect("127.0.0.1", 60123, 5000) != pelorix::TcpResult::Ok ||
                socket.SendAll(LineText(roundNumber, n) + "\r\n", 5000) != pelorix::TcpResult::Ok)
                ++failedSends;
        }
        sendDone = clock.nsecsElapsed() / 1e9;
        sent = true;
    });

    // Clicks on the probe: posted like a user's, answered when its clicked signal runs.
    QElapsedTimer clickClock;
    bool clickPending = false;
    QObject::connect(&probe, &QPushButton::clicked, &probe, [&] {
        result.clickMs.push_back(clickClock.nsecsElapsed() / 1e6);
        clickPending = false;
    });
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, &probe, [&] {
        if (clickPending)
            return;
        const QPointF centre(probe.width() / 2.0, probe.height() / 2.0);
        const QPointF global = probe.mapToGlobal(centre);
        clickPending = true;
        clickClock.start();
        QCoreApplication::postEvent(&probe, new QMouseEvent(QEvent::MouseButtonPress, centre, global,
                                                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(&probe, new QMouseEvent(QEvent::MouseButtonRelease, centre, global,
                                                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    });
    clicker.start(kClickEveryMs);

    // The sender's connections may be taken in any order; wait until the list stays still.
    // The window's own event loop runs, as in the program; a watcher ends it when the list has
    // stayed still for half a second after the sender finished (or after two minutes).
    QEventLoop loop;
    QElapsedTimer limit;
    limit.start();
    double lastSeen = 0;
    int previousCount = -1;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, &loop, [&] {
        const int count = window.List->document()->blockCount();
        if (count != previousCount) {
            previousCount = count;
            lastSeen = clock.nsecsElapsed() / 1e9;
        }
        if ((sent && clock.nsecsElapsed() / 1e9 - lastSeen > 0.5) || limit.elapsed() > 120000)
            loop.quit();
    });
    watcher.start(10);
    loop.exec();
    watcher.stop();
    clicker.stop();
    QObject::disconnect(&probe, nullptr, nullptr, nullptr);
    sender.join();
    QCoreApplication::processEvents();

    result.sendSeconds = sendDone;
    result.failedSends = failedSends;
    result.showSeconds = lastSeen;
    result.shownLines = window.List->document()->blockCount();
    // Every line of this round that the limit did not drop must be there, in full.
    std::set<QString> seen;
    for (QTextBlock block = window.List->document()->begin(); block.isValid(); block = block.next())
        seen.insert(block.text());
    const int dropped = start + kLines - result.expectedLines; // the oldest ones
    int missing = 0;
    for (int n = std::max(1, dropped - start + 1); n <= kLines; ++n)
        if (!seen.count(QString::fromStdString(LineText(roundNumber, n))) && missing++ < 5)
            std::printf("  missing: %s\n", LineText(roundNumber, n).c_str());
    result.complete = missing == 0 && result.shownLines == result.expectedLines;
    return result;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    char runtime[] = "/tmp/pelorix-bench-XXXXXX";
    if (!mkdtemp(runtime))
        return 2;
    qputenv("XDG_RUNTIME_DIR", runtime);
    const std::string programDir = std::string(runtime) + "/";
    std::ofstream(programDir + "Pelorix.ini") << "[Settings]\r\nFTPHost=127.0.0.1\r\nMessages=1\r\n";

    TPeloApplication app(argc, argv);
    MsgBox::InstallTestSeam();
    TBProcsSeam::Install(true);
    TFrmPelo window(programDir);
    auto* probe = new QPushButton(QStringLiteral("Probe"));
    window.StatusBar->addPermanentWidget(probe);
    window.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!window.SrvSock->isListening()) {
        std::fprintf(stderr, "the monitor does not listen on port 60123\n");
        return 2;
    }

    bool ok = true;
    int roundNumber = 0;
    for (int prefill : {0, 3900}) {
        const Round r = RunRound(window, *probe, ++roundNumber, prefill);
        const double maxClick = r.clickMs.empty() ? 0 : *std::max_element(r.clickMs.begin(), r.clickMs.end());
        std::printf("round %d: list prefilled with %d lines, %d lines sent\n", roundNumber, r.prefilled,
                    kLines);
        std::printf("  sender done after %.2f s (%.0f connections/s), last line shown after %.2f s\n",
                    r.sendSeconds, kLines / r.sendSeconds, r.showSeconds);
        std::printf("  %d lines could not be sent\n", r.failedSends);
        std::printf("  list holds %d lines, expected %d: %s\n", r.shownLines, r.expectedLines,
                    r.complete ? "every line shown as the limit says" : "LINES MISSING");
        std::printf("  %zu clicks answered: median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n",
                    r.clickMs.size(), Percentile(r.clickMs, 0.5), Percentile(r.clickMs, 0.99), maxClick);
        ok = ok && r.complete && !r.clickMs.empty() && maxClick < kClickLimitMs;
    }
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
