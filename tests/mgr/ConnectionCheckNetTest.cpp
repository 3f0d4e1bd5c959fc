// "Verbindung prüfen" of the real window against Debian's vsftpd with explicit TLS on port 21
// (logins forced onto TLS, a self-signed certificate made by the test), in a private network
// namespace: the unknown certificate leads to the trust question, Yes stores its pin in
// FTPTrust, and the next check logs in.

#include "MgrTestSupport.h"

#include "SecureServers.h"
#include "net/Trust.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

using namespace mgrtest;
using pelorix::test::TempDir;
using pelorix::test::TestUser;
using pelorix::test::VsftpdServer;

class ConnectionCheckNetTest : public QObject {
    Q_OBJECT
private slots:
    void unknownCertificateIsTrustedOnYesAndTheNextCheckLogsIn() {
        if (!pelorix::test::SecureServersAvailable())
            QSKIP("needs root, vsftpd and sshd");
        TestUser user;
        QVERIFY(user.Made());
        VsftpdServer server(VsftpdServer::Tls::Explicit, 21, user);
        QVERIFY2(server.Ready(), server.Log().c_str());
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=" + user.Name() +
                                     "\r\nFTPPass=" + pelorix::ScramblePassword(TestUser::kPassword) +
                                     "\r\nFTPPassive=1\r\nFTPMode=0\r\n");
        auto w = OpenWindow(dir);
        auto* plain = Find<QLabel>(w.get(), "LabPlain");
        QVERIFY(!plain->isHidden());
        Find<QComboBox>(w.get(), "CbMode")->setCurrentIndex(1);
        QVERIFY2(plain->isHidden(), "the warning goes with plain FTP");

        TakeBoxes();
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        QTest::mouseClick(Find<QPushButton>(w.get(), "Btn2Check"), Qt::LeftButton);
        auto boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Confirmation);
        const QString line = QString::fromLatin1(pelorix::UntrustedCertificateLine(server.Pin()).substr(1));
        QCOMPARE(boxes[0].text, line + QStringLiteral("\r\n\nDiesem Server künftig vertrauen?"));
        QCOMPARE(w->FTPTrust, server.Pin());

        QTest::mouseClick(Find<QPushButton>(w.get(), "Btn2Check"), Qt::LeftButton);
        boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(1));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Information);
        QVERIFY2(boxes[0].text.startsWith(QStringLiteral("Verbindung OK: 230")), qPrintable(boxes[0].text));

        w->SaveSettings();
        TakeBoxes();
        const std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "FTPTrust"), std::optional<std::string>(server.Pin()));
        QCOMPARE(IniValue(ini, "Settings", "FTPMode"), std::optional<std::string>("1"));
        QCOMPARE(IniValue(ini, "Settings", "FTPPort"), std::optional<std::string>("0"));
    }
};

PELORIX_MGR_TEST_MAIN(ConnectionCheckNetTest)
#include "ConnectionCheckNetTest.moc"
