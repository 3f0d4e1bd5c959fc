// "Verbindung prüfen" of the real window against Debian's vsftpd with explicit TLS on port 21
// (logins forced onto TLS, a self-signed certificate made by the test), in a private network
// namespace: the unknown certificate leads to the trust question, Yes stores its pin in
// FTPTrust and the check goes on to log in; a pin that no longer matches gets the change
// warning of its own, "Nein" its default, and a second confirmation.

#include "MgrTestSupport.h"

#include "SecureServers.h"
#include "net/Trust.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

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
        QCOMPARE(boxes.size(), std::size_t(2));
        QCOMPARE(boxes[0].kind, MsgBox::Kind::Confirmation);
        const QString& question = boxes[0].text;
        QVERIFY2(question.startsWith(QStringLiteral("Zertifikat nicht vertrauenswürdig: selbst signiert\n\n"
                                                    "Server: 127.0.0.1\nInhaber: ")),
                 qPrintable(question));
        for (const char* part :
             {"\nAussteller: ", "\nGültig von: ", "\nGültig bis: ", "\nSHA-256-Fingerabdruck:\n"})
            QVERIFY2(question.contains(QString::fromUtf8(part)), part);
        QVERIFY(question.endsWith(QStringLiteral("\n\nDiesem Server künftig vertrauen?")));
        QCOMPARE(w->FTPTrust, server.Pin());
        // After Yes the check went on and logged in.
        QCOMPARE(boxes[1].kind, MsgBox::Kind::Information);
        QVERIFY2(boxes[1].text.startsWith(QStringLiteral("Verbindung in Ordnung: 230")),
                 qPrintable(boxes[1].text));

        // Another key stored: the real warning, answered with Enter, which is its "Nein".
        const std::string before = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
        w->FTPTrust = before;
        MsgBox::UninstallTestSeam();
        QStringList asked;
        QStringList defaults;
        QTimer answering;
        QObject::connect(&answering, &QTimer::timeout, w.get(), [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            asked << box->text();
            defaults << (box->defaultButton() ? box->defaultButton()->text().remove(QLatin1Char('&'))
                                              : QString());
            QTest::keyClick(box, Qt::Key_Return);
        });
        answering.start(50);
        QTest::mouseClick(Find<QPushButton>(w.get(), "Btn2Check"), Qt::LeftButton);
        answering.stop();
        MsgBox::InstallTestSeam();
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked[0].startsWith(QStringLiteral("WARNUNG: Das Zertifikat des Servers 127.0.0.1 hat sich "
                                                    "geändert, seit ihm vertraut wurde.")),
                 qPrintable(asked[0]));
        QVERIFY(asked[0].contains(QStringLiteral("Angriff")));
        QVERIFY(asked[0].contains(QStringLiteral("Bisher vertraut:\n") + QString::fromLatin1(before)));
        QVERIFY(asked[0].contains(QStringLiteral("Jetzt gezeigt:\n") + QString::fromLatin1(server.Pin())));
        QCOMPARE(defaults[0], QStringLiteral("Nein"));
        QCOMPARE(asked[1], QStringLiteral("Keine Verbindung: dem Server wurde nicht vertraut"));
        QCOMPARE(w->FTPTrust, before);

        // Accepting a change takes a second, explicit Yes; then the check logs in.
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        MsgBox::setNextAnswer(MsgBox::Answer::Yes);
        QTest::mouseClick(Find<QPushButton>(w.get(), "Btn2Check"), Qt::LeftButton);
        boxes = TakeBoxes();
        QCOMPARE(boxes.size(), std::size_t(3));
        QVERIFY(boxes[0].text.startsWith(QStringLiteral("WARNUNG:")));
        QVERIFY2(boxes[1].text.startsWith(QStringLiteral("Den bisher vertrauten Schlüssel wirklich")),
                 qPrintable(boxes[1].text));
        QCOMPARE(boxes[2].kind, MsgBox::Kind::Information);
        QVERIFY(boxes[2].text.startsWith(QStringLiteral("Verbindung in Ordnung: 230")));
        QCOMPARE(w->FTPTrust, server.Pin());

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
