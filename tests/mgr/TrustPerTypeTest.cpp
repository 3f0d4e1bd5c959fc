// Each connection type keeps its own trust in the window: switching from FTPS to SFTP and back
// brings the certificate's pin back, and the file keeps FTPTrust readable as before.

#include "MgrTestSupport.h"

#include <QComboBox>

using namespace mgrtest;
using pelorix::test::TempDir;

class TrustPerTypeTest : public QObject {
    Q_OBJECT
private slots:
    void switchingTypesKeepsTheTrustOfEach() {
        const std::string pin = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
        const std::string fingerprint = "SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s";
        TempDir dir;
        dir.Write("Pelorix.ini", "[Settings]\r\nFTPHost=web.test\r\nFTPMode=1\r\nFTPTrust=" + pin + "\r\n");
        auto w = OpenWindow(dir);
        auto* mode = Find<QComboBox>(w.get(), "CbMode");
        QCOMPARE(w->FTPTrust, pin);
        w->SaveSettings();
        TakeBoxes();
        QCOMPARE(IniValue(dir.Read("Pelorix.ini"), "Settings", "FTPTrustKept"), std::optional<std::string>());

        mode->setCurrentIndex(mode->findData(3)); // SFTP
        QCOMPARE(w->FTPTrust, std::string());
        w->FTPTrust = fingerprint; // as a Yes to the question would
        mode->setCurrentIndex(mode->findData(1));
        QCOMPARE(w->FTPTrust, pin);
        mode->setCurrentIndex(mode->findData(3));
        QCOMPARE(w->FTPTrust, fingerprint);

        w->SaveSettings();
        TakeBoxes();
        const std::string ini = dir.Read("Pelorix.ini");
        QCOMPARE(IniValue(ini, "Settings", "FTPTrust"), std::optional<std::string>(fingerprint));
        QCOMPARE(IniValue(ini, "Settings", "FTPTrustKept"),
                 std::optional<std::string>("1 web.test 0 " + pin + ";3 web.test 0 " + fingerprint));

        auto again = OpenWindow(dir);
        QCOMPARE(again->FTPTrust, fingerprint);
        auto* modeAgain = Find<QComboBox>(again.get(), "CbMode");
        modeAgain->setCurrentIndex(modeAgain->findData(1));
        QCOMPARE(again->FTPTrust, pin);
    }
};

PELORIX_MGR_TEST_MAIN(TrustPerTypeTest)
#include "TrustPerTypeTest.moc"
