// The monitor receiver of the real main window: lines of the real service, coloured by kind;
// the on/off button and its notes; only the local host may deliver; the list's size limit;
// lines that arrive in pieces; the tray icon driven by received lines. Runs in a private
// network namespace, where the window may listen on port 60123.

#include "MgrTestSupport.h"
#include "ServiceTestKit.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTextEdit>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace mgrtest;
using namespace pelorix::scm;
using pelorix::test::TempDir;

namespace {

const QString kOn = QStringLiteral("*** Meldungsempfang eingeschaltet");
const QString kOff = QStringLiteral("*** Meldungsempfang ausgeschaltet");

std::string Settings(bool messages) {
    return std::string("[Settings]\r\nFTPHost=127.0.0.1\r\nMessages=") + (messages ? "1" : "0") + "\r\n";
}

// A status line as the service sends it.
std::string Line(const std::string& text) {
    return "[12:34:56] " + text + "\r\n";
}

// A monitor connection from another address of this (private) host: the given address is
// put on the loopback interface and the connection is made from it.
int ConnectFrom(const char* source) {
    const std::string command = std::string("ip addr add ") + source + "/32 dev lo 2>/dev/null";
    (void)std::system(command.c_str());
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in remote = local;
    remote.sin_port = htons(60123);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

class MonitorNetTest : public QObject {
    Q_OBJECT
private slots:
    void init() { MsgBox::clearShown(); }

    void theRealServiceLinesAreShownByKind() {
        ServiceHome home(ServiceHome::TalkativeSettings());
        QVERIFY(home.Ready());
        auto w = OpenWindow(home.Dir());
        // Messages is on: the monitor starts with the window.
        QCOMPARE(TFrmPelo::Tag(w->BtnOnOff), 0);
        QVERIFY(w->SrvSock->isListening());
        QVERIFY(w->ImageDot->isVisible());
        QVERIFY(!w->ImageKrz->isVisible());
        std::vector<ListLine> lines = ListLines(w->List);
        QCOMPARE(lines.size(), std::size_t(1));
        QCOMPARE(lines[0].text, kOn);
        QCOMPARE(lines[0].colour, QColor(Qt::blue));

        {
            ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
            ScHandle service(CreateServiceA(manager.Get(), "PelorixService", "Pelorix-Publisher",
                                            SERVICE_ALL_ACCESS, SERVICE_WIN32_SHARE_PROCESS,
                                            SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                            home.Program().c_str()));
            QVERIFY(service);
            QVERIFY(StartServiceA(service.Get(), 0, nullptr));
        }
        const int started = WaitForLine(w->List, QString::fromUtf8("+ServiceThread übernimmt"));
        QVERIFY(started > 0);
        lines = ListLines(w->List);
        QCOMPARE(lines[started].colour, QColor(Qt::black));
        QCOMPARE(lines[started].text.mid(10, 1), QStringLiteral(" ")); // "[hh:nn:ss] " kept, line end gone
        QVERIFY(!lines[started].text.endsWith(QLatin1Char('\r')));
        QVERIFY(!w->ImageKrz->isVisible());

        {
            ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
            ScHandle service(
                OpenServiceA(manager.Get(), "PelorixService", SERVICE_STOP | SERVICE_QUERY_STATUS));
            SERVICE_STATUS status;
            QVERIFY(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
        }
        const int stopping = WaitForLine(w->List, QStringLiteral("-Thread-Ende angefordert"));
        QVERIFY(stopping > started);
        QCOMPARE(ListLines(w->List)[stopping].colour, QColor(Qt::red));
        QVERIFY(w->ImageKrz->isVisible());
        // In the visible window no tray icon is touched.
        QVERIFY(TBProcsSeam::Calls().empty());
        QVERIFY(TakeBoxes().empty());

        // The next information line takes the cross away again.
        QVERIFY(SendToMonitor(Line("+Seitengenerierung ausgeführt"_l1)));
        QVERIFY(WaitForLine(w->List, QString::fromUtf8("+Seitengenerierung ausgeführt")) > stopping);
        QVERIFY(!w->ImageKrz->isVisible());
    }

    void switchingOffAndOnAddsBothNotesInBlue() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(false));
        auto w = OpenWindow(dir);
        QCOMPARE(TFrmPelo::Tag(w->BtnOnOff), 1);
        QVERIFY(!w->SrvSock->isListening());
        QCOMPARE(ListLines(w->List).back().text, kOff);

        QTest::mouseClick(w->BtnOnOff, Qt::LeftButton);
        QCOMPARE(w->BtnOnOff->text(), QStringLiteral("Monitor &aus"));
        QCOMPARE(TFrmPelo::Tag(w->BtnOnOff), 0);
        QVERIFY(w->SrvSock->isListening());
        QCOMPARE(w->SrvSock->serverAddress(), QHostAddress(QHostAddress::AnyIPv4));
        QCOMPARE(w->SrvSock->serverPort(), quint16(60123));
        QVERIFY(w->ImageDot->isVisible());

        QVERIFY(SendToMonitor(Line("-FTP-Upload gescheitert")));
        QVERIFY(WaitForLine(w->List, QStringLiteral("-FTP-Upload gescheitert")) > 0);
        QVERIFY(w->ImageKrz->isVisible());

        QTest::mouseClick(w->BtnOnOff, Qt::LeftButton);
        QTest::mouseClick(w->BtnOnOff, Qt::LeftButton);
        const std::vector<ListLine> lines = ListLines(w->List);
        QCOMPARE(lines.size(), std::size_t(5));
        QCOMPARE(lines[3].text, kOff);
        QCOMPARE(lines[3].colour, QColor(Qt::blue));
        QCOMPARE(lines[4].text, kOn);
        QCOMPARE(lines[4].colour, QColor(Qt::blue));
        QVERIFY(!w->ImageKrz->isVisible()); // switching off hid it

        QTest::mouseClick(w->BtnOnOff, Qt::LeftButton);
        QVERIFY(!w->SrvSock->isListening());
        QVERIFY(!w->ImageDot->isVisible());
        QCOMPARE(w->BtnOnOff->text(), QStringLiteral("Monitor &ein"));
        pelorix::TcpSocket refused;
        QVERIFY(refused.Connect("127.0.0.1", 60123, 1000) != pelorix::TcpResult::Ok);

        QTest::mouseClick(w->BtnClear, Qt::LeftButton);
        QVERIFY(w->List->document()->isEmpty());
        QVERIFY(TakeBoxes().empty());
    }

    void aPortInUseShowsTheSocketErrorAndNoDot() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(false));
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::AnyIPv4, 60123));
        auto w = OpenWindow(dir);
        QTest::mouseClick(w->BtnOnOff, Qt::LeftButton);
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::ApplicationError);
        QCOMPARE(boxes[0].text,
                 QString::fromUtf8("Socket-Fehler auf Port 60123: Normalerweise darf jede "
                                   "Socketadresse (Protokoll, Netzwerkadresse oder Anschluss) nur "
                                   "jeweils einmal verwendet werden."));
        QCOMPARE(TFrmPelo::Tag(w->BtnOnOff), 0); // already in its on-state
        QCOMPARE(w->BtnOnOff->text(), QStringLiteral("Monitor &aus"));
        QVERIFY(!w->ImageDot->isVisible());
        QCOMPARE(ListLines(w->List).back().text, kOff);
    }

    void onlyTheLocalHostMayDeliver() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(true));
        auto w = OpenWindow(dir);
        const std::size_t before = ListLines(w->List).size();

        const int fd = ConnectFrom("10.99.0.1");
        QVERIFY(fd >= 0);
        const std::string line = Line("+von anderswo");
        QVERIFY(::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size()));
        bool closed = false;
        for (int i = 0; i < 300 && !closed; ++i) {
            QCoreApplication::processEvents();
            char byte = 0;
            closed = ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            if (!closed)
                QTest::qWait(10);
        }
        ::close(fd);
        QVERIFY(closed);
        QTest::qWait(50);
        QCOMPARE(ListLines(w->List).size(), before);
    }

    void aLineInTwoPiecesIsShownOnceAndWhole() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(true));
        auto w = OpenWindow(dir);
        QTest::mouseClick(w->BtnClear, Qt::LeftButton);

        pelorix::TcpSocket socket;
        QCOMPARE(socket.Connect("127.0.0.1", 60123, 2000), pelorix::TcpResult::Ok);
        QCOMPARE(socket.SendAll("[10:00:00] +FTP-Upload O", 2000), pelorix::TcpResult::Ok);
        QTest::qWait(50);
        QVERIFY(w->List->document()->isEmpty());
        QCOMPARE(socket.SendAll("K mit 192.0.2.7\r\n", 2000), pelorix::TcpResult::Ok);
        QVERIFY(WaitForLine(w->List, QStringLiteral("192.0.2.7"), 3000) == 0);
        socket.Close();
        QTest::qWait(50);
        const std::vector<ListLine> lines = ListLines(w->List);
        QCOMPARE(lines.size(), std::size_t(1));
        QCOMPARE(lines[0].text, QStringLiteral("[10:00:00] +FTP-Upload OK mit 192.0.2.7"));
        QCOMPARE(lines[0].colour, QColor(Qt::black));

        // A short line and one without a marker are error lines; a bare line feed ends a line too.
        QVERIFY(SendToMonitor("kurz\n"));
        QVERIFY(WaitForLine(w->List, QStringLiteral("kurz"), 3000) == 1);
        QCOMPARE(ListLines(w->List)[1].text, QStringLiteral("kurz"));
        QCOMPARE(ListLines(w->List)[1].colour, QColor(Qt::red));
        // A line that ends without its line feed shows nothing.
        QVERIFY(SendToMonitor("[10:00:01] +unvollständig"_l1));
        QTest::qWait(100);
        QCOMPARE(ListLines(w->List).size(), std::size_t(2));
    }

    void anEndlessLineClosesItsConnection() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(true));
        auto w = OpenWindow(dir);
        const std::size_t before = ListLines(w->List).size();
        pelorix::TcpSocket socket;
        QCOMPARE(socket.Connect("127.0.0.1", 60123, 2000), pelorix::TcpResult::Ok);
        const std::string flood(200 * 1024, 'x');
        (void)socket.SendAll(flood, 200); // the window stops taking bytes at its limit
        QVERIFY(WaitUntilClosedByPeer(socket));
        QCOMPARE(ListLines(w->List).size(), before);
        // The monitor goes on receiving.
        QVERIFY(SendToMonitor(Line("+weiter")));
        QVERIFY(WaitForLine(w->List, QStringLiteral("+weiter"), 3000) >= 0);
    }

    void theListKeepsAtMost4000Lines() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(true));
        auto w = OpenWindow(dir);
        QTest::mouseClick(w->BtnClear, Qt::LeftButton);
        std::string lines;
        for (int n = 1; n <= 4001; ++n)
            lines += Line("+Zeile " + std::to_string(n));
        // Several lines on one connection are each shown.
        QVERIFY(SendToMonitor(lines));
        QVERIFY(WaitForLine(w->List, QStringLiteral("+Zeile 4001"), 15000) >= 0);
        const std::vector<ListLine> shown = ListLines(w->List);
        QCOMPARE(shown.size(), std::size_t(3901));
        QCOMPARE(shown.front().text, QStringLiteral("[12:34:56] +Zeile 101"));
        QCOMPARE(shown.back().text, QStringLiteral("[12:34:56] +Zeile 4001"));
        QCOMPARE(w->List->document()->blockCount(), 3901);
    }

    void inTrayModeLinesDriveTheIcon() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(true));
        auto w = OpenWindow(dir);
        w->EnterTrayMode();
        TBProcsSeam::Calls().clear();
        QVERIFY(SendToMonitor(Line("+Seite hochgeladen")));
        QVERIFY(WaitForLine(w->List, QStringLiteral("+Seite hochgeladen"), 3000) >= 0);
        QTRY_COMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_GN"));

        const std::string error = Line("-Thread-Ende angefordert");
        QVERIFY(SendToMonitor(error));
        QVERIFY(WaitForLine(w->List, QStringLiteral("-Thread-Ende angefordert"), 3000) >= 0);
        QTRY_COMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_RT"));
        const auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Error);
        QCOMPARE(boxes[0].text, QStringLiteral("Pelorix\r\n\r\n[12:34:56] -Thread-Ende angefordert"));
        w->mOpenClick();
    }

    // Tray mode with "bei Fehlern melden": a real modal error box, opened by a line whose
    // connection ends at once, stays open while further lines arrive, each on a connection of
    // its own that ends at once; every error line opens its box, and closing them all leaves
    // the window alive with every line shown.
    void aModalErrorBoxSurvivesLinesAndDisconnects() {
        TempDir dir;
        dir.Write("Pelorix.ini", Settings(true) + "Hidden=1\r\nShowErr=1\r\n");
        auto w = OpenWindow(dir);
        QTRY_VERIFY(w->TrayMode && w->isHidden());
        MsgBox::UninstallTestSeam();
        const std::vector<std::string> further = {"-noch ein Fehler", "+weiter",      "-Fehler drei",
                                                  "+weiter zwei",     "-Fehler vier", "+weiter drei"};
        std::size_t sent = 0;
        int closed = 0;
        QTimer driver;
        driver.setInterval(20);
        connect(&driver, &QTimer::timeout, [&] {
            if (sent < further.size()) {
                (void)SendToMonitor(Line(further[sent++]));
                return;
            }
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->buttons().constFirst()->click();
                ++closed;
            }
        });
        driver.start();
        QVERIFY(SendToMonitor(Line("-FTP-Upload gescheitert")));
        QTRY_VERIFY_WITH_TIMEOUT(closed == 4 && !QApplication::activeModalWidget(), 15000);
        driver.stop();
        MsgBox::InstallTestSeam();
        QTest::qWait(100);
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(WaitForLine(w->List, QStringLiteral("-FTP-Upload gescheitert"), 3000) > 0);
        for (const std::string& line : further)
            QVERIFY(FindLine(w->List, QString::fromStdString(line)) > 0);
        QCOMPARE(TBProcsSeam::CurrentIcon(w.get(), 0), QStringLiteral("PIC_RT"));
        w->mOpenClick();
    }
};

PELORIX_MGR_TEST_MAIN(MonitorNetTest)
#include "MonitorNetTest.moc"
