#include "common/Config.h"

#include "base/Latin1.h"
#include "platform/FileSystemName.h"
#include "platform/SystemMessage.h"

#include "TempDir.h"
#include "TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace pelorix;
using pelorix::test::TempDir;

namespace {

const std::string kDefaultText =
    "Die IP-Adresse lautet: %IP%\r\nhttp://%IP%,  ftp://%IP%\r\n[ gueltig seit %Date%, %Time% Uhr ]";

void ExpectDefaultMail(const TMailData& mail) {
    EXPECT_EQ(mail.Server, "");
    EXPECT_EQ(mail.POP3Srv, "");
    EXPECT_EQ(mail.From, "");
    EXPECT_EQ(mail.Sender, "Pelorix");
    EXPECT_EQ(mail.To, "");
    EXPECT_EQ(mail.CC, "");
    EXPECT_EQ(mail.BCC, "");
    EXPECT_EQ(mail.Subject, "dynamische IP-Adresse ist %IP%");
    EXPECT_EQ(mail.Text, kDefaultText);
    EXPECT_EQ(mail.AuthID, "");
    EXPECT_EQ(mail.AuthPw, "");
    EXPECT_EQ(mail.Auth, "no");
}

std::string AllCharacters() {
    std::string all;
    for (int c = 32; c < 256; ++c)
        all += static_cast<char>(c);
    return all;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
    const auto lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

ManagerSettings Saved(const TempDir& dir, const ManagerSettings& settings) {
    std::string error;
    EXPECT_TRUE(SaveManagerSettings(dir.Path(), settings, error)) << error;
    return LoadManagerSettings(dir.Path());
}

} // namespace

TEST(Config, ProgramDirIsTheDirectoryOfThisProgram) {
    const std::string dir = ProgramDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), test::DirectorySeparator());
    EXPECT_TRUE(std::filesystem::exists(dir + test::ProgramFileName("ConfigTest")));
    EXPECT_EQ(IniPath("/opt/p/"), "/opt/p/Pelorix.ini");
}

TEST(Config, MissingFileGivesEachSideItsDefaults) {
    TempDir dir;
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_EQ(svc.HTMLTemplate, dir.Path() + "Pelorix.htm");
    EXPECT_EQ(svc.TempSite, dir.Path() + "PelorTmp.htm");
    EXPECT_EQ(svc.FTPHost, "");
    EXPECT_EQ(svc.FTPUser, "");
    EXPECT_EQ(svc.FTPPass, "");
    EXPECT_EQ(svc.FTPSite, "/myserver.htm");
    EXPECT_FALSE(svc.FTPPassive);
    EXPECT_FALSE(svc.Router);
    EXPECT_EQ(svc.IPSource, "https://checkip.amazonaws.com/");
    EXPECT_EQ(svc.FTPMode, 0);
    EXPECT_EQ(svc.FTPPort, 0);
    EXPECT_EQ(svc.FTPTrust, "");
    EXPECT_FALSE(svc.AddPages);
    for (const auto& page : svc.AddPage)
        EXPECT_EQ(page, "");
    EXPECT_FALSE(svc.eMail);
    ExpectDefaultMail(svc.Mail);
    EXPECT_EQ(svc.Intervall, 12);
    EXPECT_TRUE(svc.Messages);
    EXPECT_EQ(svc.MsgLevel, 0);
    EXPECT_FALSE(svc.LogFile);

    const ManagerSettings mgr = LoadManagerSettings(dir.Path());
    EXPECT_EQ(mgr.HTMLTemplate, dir.Path() + "Online.htm");
    EXPECT_EQ(mgr.OfflTemplate, "Offline.htm");
    EXPECT_EQ(mgr.TempSite, dir.Path() + "PelorixTmp.htm");
    EXPECT_EQ(mgr.FTPHost, "");
    EXPECT_EQ(mgr.FTPUser, "?");
    EXPECT_EQ(mgr.FTPPass, kManagerDefaultPassword);
    EXPECT_EQ(mgr.FTPPass.size(), 1u);
    EXPECT_EQ(mgr.FTPSite, "/myserver.htm");
    EXPECT_EQ(mgr.IPSource, "https://checkip.amazonaws.com/");
    EXPECT_EQ(mgr.FTPMode, 1) << "a new file starts with TLS";
    EXPECT_EQ(mgr.IPSourceX, "https://api.ipify.org/");
    EXPECT_FALSE(mgr.FTPPassive || mgr.Router || mgr.AddPages || mgr.eMail || mgr.Messages || mgr.LogFile ||
                 mgr.Hidden);
    EXPECT_TRUE(mgr.ShowErr);
    ExpectDefaultMail(mgr.Mail);
    EXPECT_EQ(mgr.Intervall, 30);
    EXPECT_EQ(mgr.MsgLevel, 0);
    EXPECT_EQ(mgr.Left, 1);
    EXPECT_EQ(mgr.Top, 1);
    EXPECT_TRUE(mgr.HostHistory.empty() && mgr.UserHistory.empty() && mgr.SiteHistory.empty() &&
                mgr.SourceHistory.empty());
    EXPECT_FALSE(dir.Exists("Pelorix.ini"));
}

TEST(Config, FileWithoutMailSectionGivesTheMailDefaults) {
    TempDir dir;
    dir.Write("Pelorix.ini", "[Settings]\r\nFTPHost=ftp.example\r\neMail=1\r\n");
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_TRUE(svc.eMail);
    ExpectDefaultMail(svc.Mail);
    ExpectDefaultMail(LoadManagerSettings(dir.Path()).Mail);
    ExpectDefaultMail(DefaultMailData());
}

TEST(Config, ParsesIntegersLikeTheFileExpects) {
    EXPECT_EQ(ParseProfileInt("0x1E", 7), 30);
    EXPECT_EQ(ParseProfileInt("0X1e", 7), 30);
    EXPECT_EQ(ParseProfileInt("$1E", 7), 30);
    EXPECT_EQ(ParseProfileInt("-12", 7), -12);
    EXPECT_EQ(ParseProfileInt("+12", 7), 12);
    EXPECT_EQ(ParseProfileInt(" 12", 7), 12);
    EXPECT_EQ(ParseProfileInt("0", 7), 0);
    EXPECT_EQ(ParseProfileInt("2147483647", 7), 2147483647);
    EXPECT_EQ(ParseProfileInt("-2147483648", 7), -2147483647 - 1);
    EXPECT_EQ(ParseProfileInt("$FFFFFFFF", 7), -1);
    for (const char* bad : {"", "0x", "$", "-", "12abc", "1.5", "x1E", "2147483648", "$100000000", "0x1G",
                            "1 2", "99999999999999999999999"})
        EXPECT_EQ(ParseProfileInt(bad, 7), 7) << bad;
}

TEST(Config, AFileBelowAnUmlautDirectoryIsFoundByItsLatin1Path) {
    TempDir dir;
    const std::string programDir = dir.File("J\xFCrgen") + "/"; // system text, as ProgramDir gives it
    std::filesystem::create_directory(FileSystemName(programDir));
    std::ofstream(FileSystemName(programDir + "Pelorix.ini")) << "[Settings]\nFTPHost=here\n";
    const ManagerSettings mgr = LoadManagerSettings(programDir);
    EXPECT_EQ(mgr.FTPHost, "here");
    EXPECT_EQ(mgr.FTPMode, 0) << "the file exists, so it keeps plain FTP";
}

TEST(Config, IntegersAndFlagsInTheFile) {
    TempDir dir;
    dir.Write("Pelorix.ini", "[Settings]\nIntervall=0x1E\nMsgLevel=$3\nMessages=0\nLogFile=-1\nRouter=junk\n"
                             "FTPPassive=2\nLeft=-40\nTop=abc\nShowErr=0\n");
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_EQ(svc.Intervall, 30);
    EXPECT_EQ(svc.MsgLevel, 3);
    EXPECT_FALSE(svc.Messages);
    EXPECT_TRUE(svc.LogFile);
    EXPECT_FALSE(svc.Router);
    EXPECT_TRUE(svc.FTPPassive);
    const ManagerSettings mgr = LoadManagerSettings(dir.Path());
    EXPECT_EQ(mgr.Intervall, 30);
    EXPECT_EQ(mgr.Left, -40);
    EXPECT_EQ(mgr.Top, 1);
    EXPECT_EQ(mgr.FTPMode, 0) << "a file written before the key keeps plain FTP";
    EXPECT_FALSE(mgr.ShowErr);

    dir.Write("Pelorix.ini", "[Settings]\nIntervall=ten\nMessages=\n");
    EXPECT_EQ(ReadServiceSettings(dir.Path()).Intervall, 12);
    EXPECT_TRUE(ReadServiceSettings(dir.Path()).Messages);
    EXPECT_EQ(LoadManagerSettings(dir.Path()).Intervall, 30);
}

TEST(Config, BarsAndLineBreaks) {
    EXPECT_EQ(BarsToLineBreaks("a||b"), "a\r\nb");
    EXPECT_EQ(LineBreaksToBars("a\r\nb"), "a||b");
    EXPECT_EQ(BarsToLineBreaks("a|||b"), "a\r\n|b");
    EXPECT_EQ(BarsToLineBreaks("||||"), "\r\n\r\n");
    EXPECT_EQ(BarsToLineBreaks("|a|"), "|a|");
    EXPECT_EQ(LineBreaksToBars("\r\n\r\n"), "||||");
    // Every line break, whatever its form, stays on the one line of the file.
    EXPECT_EQ(LineBreaksToBars("a\nb\rc"), "a||b||c");
}

TEST(Config, EveryCharacterSurvivesTheScrambling) {
    const std::string all = AllCharacters();
    const std::string stored = ScramblePassword(all);
    ASSERT_EQ(stored.size(), all.size());
    for (const char c : stored)
        EXPECT_GE(static_cast<unsigned char>(c), 32u);
    EXPECT_NE(stored, all);
    EXPECT_EQ(UnscramblePassword(stored), all);
    for (int c = 32; c < 256; ++c) {
        const std::string one(1, static_cast<char>(c));
        EXPECT_EQ(UnscramblePassword(ScramblePassword(one)), one) << c;
    }
    EXPECT_EQ(ScramblePassword(""), "");
    EXPECT_EQ(UnscramblePassword(""), "");
}

TEST(Config, PasswordsWrittenByTheManagerReadBackOnBothSides) {
    TempDir dir;
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    settings.FTPPass = AllCharacters();
    settings.eMail = true;
    settings.Mail.AuthPw = " blank at both ends ";
    settings.FTPUser = "me";
    settings.UserHistory = {"me"};
    const ManagerSettings loaded = Saved(dir, settings);
    EXPECT_EQ(loaded.FTPPass, settings.FTPPass);
    EXPECT_EQ(loaded.Mail.AuthPw, settings.Mail.AuthPw);
    EXPECT_EQ(LoadHistoryPassword(dir.Path(), 1), settings.FTPPass);
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_EQ(svc.FTPPass, settings.FTPPass);
    EXPECT_EQ(svc.Mail.AuthPw, settings.Mail.AuthPw);
    const std::string file = dir.Read("Pelorix.ini");
    EXPECT_EQ(file.find("blank at both ends"), std::string::npos) << "no password in plain text";
    // Windows has no modes; the program directory's access list guards the file there.
    if (!test::RunsOnWindows()) {
        EXPECT_EQ(ModeOf(dir.File("Pelorix.ini")), 0660u); // the owner and the group, no others
    }

    // Stored forms that begin with a blank or stand in quotes read back whole too.
    ASSERT_EQ(ScramblePassword("-"), " ");
    ASSERT_EQ(ScramblePassword("/4"), "\"\"");
    for (const std::string password : {"-", "/4", "-abc"}) {
        settings.FTPPass = password;
        settings.Mail.AuthPw = password;
        EXPECT_EQ(Saved(dir, settings).FTPPass, password);
        EXPECT_EQ(ReadServiceSettings(dir.Path()).FTPPass, password);
        EXPECT_EQ(ReadServiceSettings(dir.Path()).Mail.AuthPw, password);
    }
}

TEST(Config, SaveWritesEveryKeyTheServiceReads) {
    TempDir dir;
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    settings.Mail.Text = "a\r\nb";
    settings.eMail = true;
    settings.AddPages = true;
    settings.AddPage[2] = "/x/vorlage.htm";
    settings.Intervall = -18;
    const ManagerSettings loaded = Saved(dir, settings);
    EXPECT_EQ(loaded.Mail.Text, "a\r\nb");
    EXPECT_EQ(loaded.Intervall, -18);
    const std::string file = dir.Read("Pelorix.ini");
    EXPECT_TRUE(HasLine(file, "Text=a||b"));
    EXPECT_TRUE(HasLine(file, "Intervall=-18"));
    EXPECT_TRUE(HasLine(file, "AddPage0="));
    EXPECT_TRUE(HasLine(file, "AddPage2=/x/vorlage.htm"));
    EXPECT_FALSE(HasLine(file, "CC="));
    EXPECT_FALSE(HasLine(file, "Left=1"));

    // The service now finds the manager's values, not its own defaults.
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_EQ(svc.HTMLTemplate, dir.Path() + "Online.htm");
    EXPECT_EQ(svc.TempSite, dir.Path() + "PelorixTmp.htm");
    EXPECT_EQ(svc.Intervall, -18);
    EXPECT_FALSE(svc.Messages);
    EXPECT_TRUE(svc.AddPages);
    EXPECT_EQ(svc.AddPage[2], "/x/vorlage.htm");
    EXPECT_EQ(svc.Mail.Text, "a\r\nb");
}

TEST(Config, MailOptionOffKeepsTheMailSectionAndOnRewritesIt) {
    TempDir dir;
    const std::string mailSection = "[SendMail]\r\nServer=smtp.example\r\nCC=old@example\r\n; mine\r\n"
                                    "AuthPw=" +
                                    ScramblePassword("pw") + "\r\n";
    dir.Write("Pelorix.ini", "[Settings]\r\neMail=1\r\n\r\n" + mailSection + "\r\n[Hosts]\r\nFTPHost1=h\r\n");
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    EXPECT_EQ(settings.Mail.CC, "old@example");
    EXPECT_EQ(settings.Mail.AuthPw, "pw");

    settings.eMail = false;
    settings.Mail.CC.clear();
    Saved(dir, settings);
    EXPECT_NE(dir.Read("Pelorix.ini").find(mailSection), std::string::npos);

    settings.eMail = true;
    const ManagerSettings loaded = Saved(dir, settings);
    const std::string file = dir.Read("Pelorix.ini");
    EXPECT_EQ(file.find("CC="), std::string::npos);
    EXPECT_EQ(file.find("; mine"), std::string::npos);
    EXPECT_TRUE(HasLine(file, "Server=smtp.example"));
    EXPECT_TRUE(HasLine(file, "Auth=no"));
    EXPECT_FALSE(HasLine(file, "POP3Srv="));
    EXPECT_EQ(loaded.Mail.CC, "");
    EXPECT_EQ(loaded.Mail.AuthPw, "pw");
    EXPECT_EQ(loaded.HostHistory, std::vector<std::string>{"h"});
}

TEST(Config, MailProtectionKeysAreReadAndWrittenOnlyWhenSet) {
    TempDir dir;
    dir.Write("Pelorix.ini", "[Settings]\r\neMail=1\r\n[SendMail]\r\nServer=smtp.example\r\n");
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    EXPECT_EQ(settings.Mail.Security, "none");
    EXPECT_EQ(settings.Mail.Port, 0);
    Saved(dir, settings);
    // Only the mail section: [Settings] has keys of its own ending in "Port" and "Trust".
    const std::string written = dir.Read("Pelorix.ini");
    const std::string mailSection = written.substr(written.find("[SendMail]"));
    for (const char* key : {"\nSecurity=", "\nPort=", "\nPOP3Port=", "\nTrust="})
        EXPECT_EQ(mailSection.find(key), std::string::npos) << key;

    settings.Mail.Security = "starttls";
    settings.Mail.Port = 2587;
    settings.Mail.POP3Port = 2995;
    settings.Mail.Trust = "sha256//AAAA";
    Saved(dir, settings);
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_EQ(svc.Mail.Security, "starttls");
    EXPECT_EQ(svc.Mail.Port, 2587);
    EXPECT_EQ(svc.Mail.POP3Port, 2995);
    EXPECT_EQ(svc.Mail.Trust, "sha256//AAAA");
}

TEST(Config, IPv6KeysAreReadOnBothSidesAndWrittenOnlyOnceChosen) {
    TempDir dir;
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    EXPECT_FALSE(settings.IPv6.On());
    Saved(dir, settings);
    for (const char* key : {"IPv6=", "IPSource6=", "IPSource6Trust=", "IPv6Interface="})
        EXPECT_EQ(dir.Read("Pelorix.ini").find(key), std::string::npos) << key;

    settings.IPv6.Use = 2;
    settings.IPv6.Source = "http://v6.example/ip";
    settings.IPv6.Interface = "eth0";
    Saved(dir, settings);
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_EQ(svc.IPv6.Mode(), IPv6Use::Only);
    EXPECT_EQ(svc.IPv6.Source, "http://v6.example/ip");
    EXPECT_EQ(svc.IPv6.SourceTrust, "");
    EXPECT_EQ(svc.IPv6.Interface, "eth0");

    // Taken back: the file says so instead of keeping the old choice.
    settings.IPv6 = {};
    EXPECT_FALSE(Saved(dir, settings).IPv6.On());
    EXPECT_TRUE(HasLine(dir.Read("Pelorix.ini"), "IPv6=0"));
    EXPECT_TRUE(HasLine(dir.Read("Pelorix.ini"), "IPSource6="));

    dir.Write("Pelorix.ini", "[Settings]\r\nIPv6=7\r\n");
    EXPECT_EQ(ReadServiceSettings(dir.Path()).IPv6.Mode(), IPv6Use::Off) << "an unknown choice keeps IPv4";
}

TEST(Config, OnlyThePasswordOfTheMatchingUserIsWritten) {
    TempDir dir;
    std::string hosts = "[Hosts]\r\n";
    for (int i = 1; i <= 5; ++i) {
        hosts += "FTPUser" + std::to_string(i) + "=user" + std::to_string(i) + "\r\n";
        hosts += "FTPPass" + std::to_string(i) + "=" + ScramblePassword("old" + std::to_string(i)) + "\r\n";
    }
    dir.Write("Pelorix.ini", hosts);
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    ASSERT_EQ(settings.UserHistory.size(), 5u);
    settings.FTPUser = "user3";
    settings.FTPPass = "new3";
    Saved(dir, settings);
    for (int i = 1; i <= 5; ++i) {
        const std::string expected = i == 3 ? "new3" : "old" + std::to_string(i);
        EXPECT_EQ(LoadHistoryPassword(dir.Path(), i), expected) << i;
    }
    EXPECT_EQ(RecallUserPassword(dir.Path(), "user3"), "new3");
    EXPECT_EQ(RecallUserPassword(dir.Path(), "USER3"), "") << "letter case counts";

    // A user name that matches no entry writes no history password at all.
    settings.FTPUser = "stranger";
    settings.FTPPass = "x";
    Saved(dir, settings);
    EXPECT_EQ(LoadHistoryPassword(dir.Path(), 3), "new3");
}

TEST(Config, PasswordRecallTakesTheLastMatchAndEmptiesWithoutOne) {
    TempDir dir;
    dir.Write("Pelorix.ini", "[Hosts]\nFTPUser1=bob\nFTPPass1=" + ScramblePassword("first") +
                                 "\nFTPUser4=bob\nFTPPass4=" + ScramblePassword("last") +
                                 "\nFTPUser2=eve\nFTPUser12=bob\nFTPPass12=" + ScramblePassword("beyond") +
                                 "\n");
    EXPECT_EQ(RecallUserPassword(dir.Path(), "bob"), "last");
    EXPECT_EQ(RecallUserPassword(dir.Path(), "eve"), "");
    EXPECT_EQ(RecallUserPassword(dir.Path(), "nobody"), "");
    EXPECT_EQ(LoadHistoryPassword(dir.Path(), 12), "beyond");
    EXPECT_EQ(LoadHistoryPassword(dir.Path(), 0), "");
}

TEST(Config, HistoriesLoadNineteenButWriteNine) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "the manager saves; on Windows the system's profile calls write in their own way";
    TempDir dir;
    dir.Write("Pelorix.ini", "[Hosts]\nFTPHost1=one\nFTPHost2=\nFTPHost3=three\nFTPHost15=fifteen\n"
                             "FTPHost20=twenty\nFTPSite19=/s19\nIPSource1=src\nIPSourceX=mine.example/ip\n");
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    EXPECT_EQ(settings.HostHistory, (std::vector<std::string>{"one", "three", "fifteen"}));
    EXPECT_EQ(settings.SiteHistory, std::vector<std::string>{"/s19"});
    EXPECT_EQ(settings.SourceHistory, std::vector<std::string>{"src"});
    EXPECT_EQ(settings.IPSourceX, "mine.example/ip");

    // Entries move up to the numbers 1..3 when written back; FTPHost15 stays as it was.
    settings.HostHistory.push_back("typed");
    for (int i = 0; i < 6; ++i)
        settings.UserHistory.push_back("u" + std::to_string(i));
    Saved(dir, settings);
    const std::string file = dir.Read("Pelorix.ini");
    for (const char* line :
         {"FTPHost1=one", "FTPHost2=three", "FTPHost3=fifteen", "FTPHost4=typed", "FTPHost15=fifteen",
          "FTPHost20=twenty", "FTPSite1=/s19", "FTPSite19=/s19", "FTPUser6=u5", "IPSourceX=mine.example/ip"})
        EXPECT_NE(file.find(std::string("\n") + line + "\n"), std::string::npos) << line;
    EXPECT_EQ(file.find("FTPUser10"), std::string::npos);

    settings.UserHistory.clear();
    for (int i = 1; i <= 10; ++i)
        settings.UserHistory.push_back("v" + std::to_string(i));
    EXPECT_EQ(Saved(dir, settings).UserHistory.size(), 9u);
}

TEST(Config, AFileEditedByHandIsReadAndKeptApartFromTheChangedKeys) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "the manager saves; on Windows the system's profile calls write in their own way";
    TempDir dir;
    const std::string before = "; Pelorix, edited by hand\r\n"
                               "[SETTINGS]\r\n"
                               "  FTPHOST = \"ftp.example\"   \r\n"
                               "ftpuser='Max Muster'\r\n"
                               "; the interval in tens of seconds\r\n"
                               "INTERVALL = 0x0C\r\n"
                               "MyOwnKey=stays\r\n"
                               "\r\n"
                               "[sendmail]\r\n"
                               "SUBJECT = Neue Adresse %IP%\r\n"
                               "text=Zeile 1||Zeile 2\r\n";
    dir.Write("Pelorix.ini", before);
    const ServiceSettings svc = ReadServiceSettings(dir.Path());
    EXPECT_EQ(svc.FTPHost, "ftp.example");
    EXPECT_EQ(svc.FTPUser, "Max Muster");
    EXPECT_EQ(svc.Intervall, 12);
    EXPECT_EQ(svc.Mail.Subject, "Neue Adresse %IP%");
    EXPECT_EQ(svc.Mail.Text, "Zeile 1\r\nZeile 2");

    ManagerSettings settings = LoadManagerSettings(dir.Path());
    EXPECT_EQ(settings.FTPHost, "ftp.example");
    settings.FTPHost = "neu.example";
    Saved(dir, settings);
    const auto lines = Lines(dir.Read("Pelorix.ini"));
    ASSERT_GE(lines.size(), 12u);
    EXPECT_EQ(lines[0], "; Pelorix, edited by hand");
    EXPECT_EQ(lines[1], "[SETTINGS]");
    EXPECT_EQ(lines[2], "FTPHOST=neu.example");
    EXPECT_EQ(lines[3], "ftpuser=Max Muster");
    EXPECT_EQ(lines[4], "; the interval in tens of seconds");
    EXPECT_EQ(lines[5], "INTERVALL=12");
    EXPECT_EQ(lines[6], "MyOwnKey=stays");
    const std::string file = dir.Read("Pelorix.ini");
    EXPECT_NE(file.find("\r\n\r\n[sendmail]\r\nSUBJECT = Neue Adresse %IP%\r\ntext=Zeile 1||Zeile 2\r\n"),
              std::string::npos);
    EXPECT_EQ(file.find("[Settings]"), std::string::npos) << "no second section";
}

TEST(Config, LfFileStaysLf) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "the manager saves; on Windows the system's profile calls write in their own way";
    TempDir dir;
    dir.Write("Pelorix.ini", "[Settings]\nFTPHost=a\n");
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    settings.eMail = true;
    settings.HostHistory = {"a"};
    Saved(dir, settings);
    const std::string file = dir.Read("Pelorix.ini");
    EXPECT_EQ(file.find('\r'), std::string::npos);
    EXPECT_NE(file.find("\n[SendMail]\n"), std::string::npos);
}

// The file stays shared with the group (pelorix, in the installed data directory), also when
// root runs the manager.
TEST(Config, TheManagersFileIsForOwnerAndGroupAndKeepsItsGroup) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "no Unix modes";
    TempDir dir;
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    std::string error;
    ASSERT_TRUE(SaveWindowKeys(dir.Path(), settings, true, error)) << error;
    EXPECT_EQ(ModeOf(dir.File("Pelorix.ini")), 0660u);

    if (!test::MayHandFilesToOtherUsers())
        return;
    ASSERT_TRUE(test::ChangeOwner(dir.File("Pelorix.ini"), 0, 65534));
    settings.FTPHost = "changed.example";
    ASSERT_TRUE(SaveManagerSettings(dir.Path(), settings, error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("Pelorix.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
}

TEST(Config, TextsAreCutToEachSidesLength) {
    TempDir dir;
    dir.Write("Pelorix.ini", "[Settings]\nFTPSite=" + std::string(3000, 's') +
                                 "\n[SendMail]\nText=" + std::string(1500, 'a') + "||b\n");
    EXPECT_EQ(ReadServiceSettings(dir.Path()).FTPSite.size(), 2047u);
    EXPECT_EQ(LoadManagerSettings(dir.Path()).FTPSite.size(), 1023u);
    EXPECT_EQ(ReadServiceSettings(dir.Path()).Mail.Text, std::string(1500, 'a') + "\r\nb");
}

TEST(Config, AnInterruptedSaveLeavesTheOldFileAndExplains) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "the manager saves; on Windows the system's profile calls write in their own way";
    TempDir dir;
    const std::string old = "[Settings]\nFTPHost=keep.example\n; note\n";
    dir.Write("Pelorix.ini", old);
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    settings.FTPHost = "lost.example";
    settings.eMail = true;
    const FileWriter crashMidway = [](int fd, std::string_view bytes) {
        WriteAllBytes(fd, bytes.substr(0, 10));
        return ENOSPC;
    };
    std::string error;
    EXPECT_FALSE(SaveManagerSettings(dir.Path(), settings, error, crashMidway));
    EXPECT_EQ(error, SystemErrorText(ENOSPC));
    EXPECT_EQ(dir.Read("Pelorix.ini"), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    EXPECT_EQ(SaveFailedMessage(error),
              "Speichern der geänderten Parameter nicht möglich!\r\n\n"_l1 + SystemErrorText(ENOSPC));
}

TEST(Config, UnusableFileGivesDefaultsAndAFailedSave) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("Pelorix.ini"));
    EXPECT_EQ(ReadServiceSettings(dir.Path()).Intervall, 12);
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    EXPECT_EQ(settings.Intervall, 30);
    std::string error;
    EXPECT_FALSE(SaveManagerSettings(dir.Path(), settings, error));
    EXPECT_EQ(error, SystemErrorText(EISDIR));
    EXPECT_FALSE(SaveWindowKeys(dir.Path(), settings, true, error));

    EXPECT_FALSE(SaveManagerSettings(dir.File("missing/"), settings, error));
    EXPECT_EQ(error, SystemErrorText(ENOENT));

    TempDir other;
    other.Write("Pelorix.ini", "[Settings]\nFTPHost=protected\n");
    ::chmod(other.File("Pelorix.ini").c_str(), 0444);
    EXPECT_FALSE(SaveManagerSettings(other.Path(), settings, error));
    EXPECT_EQ(error, "Zugriff verweigert.");
    EXPECT_EQ(other.Read("Pelorix.ini"), "[Settings]\nFTPHost=protected\n");
}

TEST(Config, WindowKeysAreWrittenOnlyWhenChanged) {
    TempDir dir;
    const std::string before = "[Settings]\r\nLeft=5\r\nTop=7\r\nHidden=0\r\n";
    dir.Write("Pelorix.ini", before);
    ManagerSettings settings = LoadManagerSettings(dir.Path());
    std::string error;
    EXPECT_TRUE(SaveWindowKeys(dir.Path(), settings, false, error));
    EXPECT_EQ(dir.Read("Pelorix.ini"), before);

    settings.Top = 9;
    settings.Hidden = true;
    settings.ShowErr = false;
    EXPECT_TRUE(SaveWindowKeys(dir.Path(), settings, false, error));
    EXPECT_EQ(dir.Read("Pelorix.ini"), "[Settings]\r\nLeft=5\r\nTop=9\r\nHidden=0\r\n");
    EXPECT_TRUE(SaveWindowKeys(dir.Path(), settings, true, error));
    EXPECT_EQ(dir.Read("Pelorix.ini"), "[Settings]\r\nLeft=5\r\nTop=9\r\nHidden=1\r\nShowErr=0\r\n");

    // A missing key counts as 0: a window at 0,0 writes nothing to a new file.
    TempDir fresh;
    settings.Left = 0;
    settings.Top = 0;
    EXPECT_TRUE(SaveWindowKeys(fresh.Path(), settings, false, error));
    EXPECT_FALSE(fresh.Exists("Pelorix.ini"));
}
