// Network actions of the real window against a scripted FTP server that stalls after "150":
// the manual upload ends at the action's limit with its failure box, the window repaints
// meanwhile, and a close asked for during the transfer takes effect afterwards. The limit is
// shortened through the seam (the program's own is 60 s). Runs in a private network namespace,
// where the scripted server may listen on port 21.
//
// The close during an upload to a server that never answers uses a loopback port of its own, so
// scripts/window-fit-check.sh also runs it alone on a real display, where the close comes from
// the window manager (Alt+F4) and the failure box is a real one that blocks the window.

#include "MgrTestSupport.h"

#include "ScriptedPeer.h"
#include "mgr/NetworkAction.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>

using namespace mgrtest;
using pelorix::test::PeerConnection;
using pelorix::test::ScriptedPeer;
using pelorix::test::TempDir;

namespace {

constexpr int kLimitMs = 1500;

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// A passive data port that is never served: the kernel takes the connection and the file's
// bytes, the server never answers the transfer.
class SilentDataPort {
public:
    SilentDataPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 4);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentDataPort() { ::close(fd_); }
    SilentDataPort(const SilentDataPort&) = delete;
    SilentDataPort& operator=(const SilentDataPort&) = delete;
    std::uint16_t Port() const { return port_; }
    std::string Reply() const {
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port_ / 256) + "," +
               std::to_string(port_ % 256) + ")\r\n";
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// An FTP server that answers everything up to STOR, then says "150" and nothing more.
void StallAfter150(PeerConnection& c, const SilentDataPort& data) {
    c.Send("220 bereit\r\n");
    for (;;) {
        const std::string line = c.ReadLine(10000);
        if (line.empty())
            return;
        const std::string verb = line.substr(0, line.find_first_of(" \r"));
        if (verb == "USER")
            c.Send("331 Passwort bitte\r\n");
        else if (verb == "PASS")
            c.Send("230 angemeldet\r\n");
        else if (verb == "PWD")
            c.Send("257 \"/\"\r\n");
        else if (verb == "PASV")
            c.Send(data.Reply());
        else if (verb == "STOR") {
            c.Send("150 Datenverbindung offen\r\n");
            return; // and then silence
        } else
            c.Send("200 OK\r\n");
    }
}

// The window manager's close: Alt+F4 through it on a real display, else the close the
// platform's close button asks for.
void AskToClose(QWidget* window) {
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        QProcess::startDetached(QStringLiteral("xdotool"),
                                {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                 QString::number(window->winId()), QStringLiteral("key"),
                                 QStringLiteral("--clearmodifiers"), QStringLiteral("alt+F4")});
    else
        window->close();
}

} // namespace

class NetworkActionNetTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MsgBox::clearShown(); }
    void cleanup() { SetNetworkActionLimitMs(0); }

    void aStalledUploadEndsAtTheLimitWhileTheWindowPaints() {
        SetNetworkActionLimitMs(kLimitMs);
        SilentDataPort data;
        ScriptedPeer server(21);
        server.Run([&data](PeerConnection& c) { StallAfter150(c, data); });
        TempDir home;
        home.Write("Online.htm", "<p>%IP%</p>\r\n");
        home.Write("Pelorix.ini",
                   "[Settings]\r\nHTMLTemplate=" + home.File("Online.htm") + "\r\nTempSite=" +
                       home.File("PelorTmp.htm") + "\r\nFTPHost=127.0.0.1\r\nFTPUser=anna\r\nFTPPass=" +
                       pelorix::ScramblePassword("geheim") + "\r\nFTPSite=/page.htm\r\nFTPPassive=1\r\n");
        auto w = OpenWindow(home);
        QSignalSpy closed(w.get(), &TFrmPelo::Closed);
        PaintCounter paints(w.get());
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, w.get(), [&w] { w->update(); });
        repaint.start(50);
        bool cursorShown = false;
        bool closeAsked = false;
        QTimer::singleShot(kLimitMs / 3, w.get(), [&] {
            cursorShown =
                QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            w->close(); // Alt+F4 during the transfer
            closeAsked = true;
        });

        QElapsedTimer took;
        took.start();
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        const qint64 elapsed = took.elapsed();
        repaint.stop();
        QVERIFY2(elapsed >= kLimitMs - 100 && elapsed < kLimitMs + 1500,
                 qPrintable(QString::number(elapsed)));
        QVERIFY2(paints.count >= 5, qPrintable(QString::number(paints.count)));
        QVERIFY(cursorShown);
        QVERIFY(!QApplication::overrideCursor());
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Error);
        QCOMPARE(boxes[0].text, QStringLiteral("FTP-Upload gescheitert"));
        // The page goes up under a temporary name first, so the stalled transfer harmed no page.
        QVERIFY(server.Finish().find("STOR page.htm.pelorix-tmp\r\n") != std::string::npos);

        // The close was kept back during the transfer and happens now.
        QVERIFY(closeAsked);
        QCOMPARE(closed.count(), 0);
        QTRY_COMPARE(closed.count(), 1);
    }

    void aCloseDuringAnUploadToASilentServerClosesTheWindowAfterIt() {
        SetNetworkActionLimitMs(kLimitMs);
        const SilentDataPort server; // takes the connection, never says a word
        TempDir home;
        home.Write("Online.htm", "<p>%IP%</p>\r\n");
        home.Write("Pelorix.ini",
                   "[Settings]\r\nHTMLTemplate=" + home.File("Online.htm") +
                       "\r\nTempSite=" + home.File("PelorTmp.htm") +
                       "\r\nFTPHost=127.0.0.1\r\nFTPMode=0\r\nFTPPort=" + std::to_string(server.Port()) +
                       "\r\nFTPUser=anna\r\nFTPSite=/page.htm\r\nRouter=0\r\n");
        auto w = OpenWindow(home);
        QSignalSpy closed(w.get(), &TFrmPelo::Closed);
        w->PageSet->setCurrentIndex(TFrmPelo::kPageAddresses);
        w->List->setPlainText(QStringLiteral("Zeile"));
        QTimer::singleShot(kLimitMs / 3, w.get(), [&w] {
            QTest::mouseClick(w->BtnClear, Qt::LeftButton); // no user input during the action
            AskToClose(w.get());
        });
        // The real failure box, answered as a user would after a moment.
        MsgBox::UninstallTestSeam();
        QString boxText;
        QTimer answer;
        connect(&answer, &QTimer::timeout, w.get(), [&boxText] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                box && box->isVisible()) {
                boxText = box->text();
                QTimer::singleShot(300, box, [box] { box->done(QMessageBox::Ok); });
            }
        });
        answer.start(100);
        QTest::mouseClick(w->Btn4Up, Qt::LeftButton);
        answer.stop();
        MsgBox::InstallTestSeam();

        QVERIFY2(boxText.contains(QStringLiteral("gescheitert")), qPrintable(boxText));
        QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, 5000);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->List->toPlainText(), QStringLiteral("Zeile"));
    }
};

PELORIX_MGR_TEST_MAIN(NetworkActionNetTest)
#include "NetworkActionNetTest.moc"
