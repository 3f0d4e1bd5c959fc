// The real PelorixSvc in foreground mode: its log file, its copy of kept lines on standard
// error, and its answers to the control signals.

#include "SvcProcess.h"

#include "base/Latin1.h"
#include "common/Config.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

namespace pelorix::test {
namespace {

const std::string kValidIni =
    "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=" + ScramblePassword("geheim") +
    "\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n";

TEST(PelorixSvcProcessTest, MissingSettingsLeaveTheServiceIdleUntilItIsStopped) {
    TempDir dir;
    const std::string program = InstallService(dir, "[Settings]\r\nLogFile=1\r\nMsgLevel=1\r\n");
    const std::string header = TodayHeader();
    ServerProcess svc({program, "-foreground"}, dir.File("stderr.txt"));
    ASSERT_TRUE(svc.Started());
    ASSERT_TRUE(WaitForText(dir, "Pelorix.log", "-unzureichende(r) Parameter"));
    const std::vector<std::string> startLines = {"+Service gestartet *", "-kein FTP-Host eingetragen",
                                                 "-fehlender FTP-Benutzer", "-fehlendes FTP-Passwort",
                                                 "-unzureichende(r) Parameter"};
    EXPECT_TRUE(LogIs(dir.Read("Pelorix.log"), header, startLines));
    EXPECT_EQ(svc.Wait(200), -1) << "the idle service keeps running";

    svc.Signal(SIGUSR1); // pause and continue of an idle service record nothing
    svc.Signal(SIGUSR2);
    svc.Signal(SIGTERM);
    EXPECT_EQ(svc.Wait(1000), 0);
    auto lines = startLines;
    lines.push_back("-Service beendet *");
    EXPECT_TRUE(LogIs(dir.Read("Pelorix.log"), header, lines));

    const std::string console = dir.Read("stderr.txt");
    EXPECT_NE(console.find("] +Service gestartet *\n"), std::string::npos) << console;
    EXPECT_NE(console.find("] -Service beendet *\n"), std::string::npos) << console;
}

TEST(PelorixSvcProcessTest, SignalsPauseContinueAndStopTheRunningService) {
    TempDir dir;
    const std::string program = InstallService(dir, kValidIni);
    const std::string header = TodayHeader();
    ServerProcess svc({program, "/FOREGROUND"}, dir.File("stderr.txt"));
    ASSERT_TRUE(WaitForText(dir, "Pelorix.log", "+ServiceThread erzeugt"));
    // The worker's first line, recorded on its own thread, shows on the terminal (in UTF-8) at once.
    ASSERT_TRUE(WaitForText(dir, "stderr.txt", "+ServiceThread übernimmt"));
    svc.Signal(SIGUSR1);
    ASSERT_TRUE(WaitForText(dir, "Pelorix.log", "-Service angehalten *"));
    svc.Signal(SIGUSR2);
    ASSERT_TRUE(WaitForText(dir, "Pelorix.log", "+Service fortgesetzt *"));
    svc.Signal(SIGINT);
    EXPECT_EQ(svc.Wait(1000), 0);
    EXPECT_TRUE(LogIs(dir.Read("Pelorix.log"), header,
                      {"+Service gestartet *", "+ServiceThread erzeugt", "-Service angehalten *",
                       "+Service fortgesetzt *", "+ServiceThread übernimmt"_l1, "-Thread-Ende angefordert",
                       "-Service beendet *"}));
}

TEST(PelorixSvcProcessTest, HangUpStopsTheForegroundServiceInOrder) {
    TempDir dir;
    const std::string program = InstallService(dir, kValidIni);
    ServerProcess svc({program, "-foreground"}, dir.File("stderr.txt"));
    ASSERT_TRUE(WaitForText(dir, "stderr.txt", "+ServiceThread übernimmt"));
    svc.Signal(SIGHUP);
    EXPECT_EQ(svc.Wait(2000), 0);
    EXPECT_TRUE(LogIs(dir.Read("Pelorix.log"), TodayHeader(),
                      {"+Service gestartet *", "+ServiceThread erzeugt", "+ServiceThread übernimmt"_l1,
                       "-Thread-Ende angefordert", "-Service beendet *"}));
}

TEST(PelorixSvcProcessTest, ASecondInstanceOnTheSameDirectoryIsTurnedAwayAtOnce) {
    TempDir dir;
    const std::string program = InstallService(dir, kValidIni);
    ServerProcess first({program, "-foreground"}, dir.File("first.txt"));
    ASSERT_TRUE(WaitForText(dir, "first.txt", "+ServiceThread übernimmt"));
    ASSERT_TRUE(WaitForText(dir, "Pelorix.log", "+ServiceThread erzeugt"));
    const std::string logBefore = dir.Read("Pelorix.log");
    ServerProcess second({program, "-foreground"}, dir.File("second.txt"));
    EXPECT_EQ(second.Wait(2000), 1);
    EXPECT_NE(dir.Read("second.txt").find("läuft bereits für das Programmverzeichnis " + dir.Path()),
              std::string::npos)
        << dir.Read("second.txt");
    EXPECT_EQ(dir.Read("Pelorix.log"), logBefore) << "the second touched nothing";
    EXPECT_EQ(first.Wait(100), -1) << "the first runs on";
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(2000), 0);
    EXPECT_TRUE(LogIs(dir.Read("Pelorix.log"), TodayHeader(),
                      {"+Service gestartet *", "+ServiceThread erzeugt", "+ServiceThread übernimmt"_l1,
                       "-Thread-Ende angefordert", "-Service beendet *"}));
}

TEST(PelorixSvcProcessTest, SettingsThatCannotBeReadAreSaidOnTheTerminal) {
    TempDir dir;
    InstallService(dir, "");
    ::unlink(dir.File("Pelorix.ini").c_str());
    for (const bool directory : {false, true}) {
        if (directory)
            ::mkdir(dir.File("Pelorix.ini").c_str(), 0755);
        const std::string console = directory ? "directory.txt" : "missing.txt";
        ServerProcess svc({dir.File("PelorixSvc"), "-foreground"}, dir.File(console));
        ASSERT_TRUE(WaitForText(dir, console, "-unzureichende(r) Parameter"));
        svc.Signal(SIGTERM);
        EXPECT_EQ(svc.Wait(2000), 0);
        const std::string said = dir.Read(console);
        const auto at = said.find("\nPelorix.ini nicht lesbar: ");
        EXPECT_NE(at, std::string::npos) << said;
        EXPECT_EQ(said.find("Pelorix.ini", at + 2), std::string::npos) << "one line: " << said;
    }
}

TEST(PelorixSvcProcessTest, WithoutTheForegroundSwitchNothingStarts) {
    TempDir dir;
    const std::string program = InstallService(dir, kValidIni);
    for (const char* arg : {"", "-bogus"}) {
        std::vector<std::string> argv = {program};
        if (*arg)
            argv.push_back(arg);
        ServerProcess svc(argv, dir.File("stderr.txt"));
        EXPECT_EQ(svc.Wait(5000), 2);
    }
    EXPECT_FALSE(dir.Exists("Pelorix.log"));
    EXPECT_NE(dir.Read("stderr.txt").find("-foreground"), std::string::npos);
}

// One field of /proc/PID/status, such as "Uid", or the entries of /proc/PID/environ ("environ"),
// each ended by "\n".
std::string ProcessFile(int pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + (field == "environ" ? "/environ" : "/status"));
    std::string text;
    for (std::string line; std::getline(in, line, field == "environ" ? '\0' : '\n');) {
        if (field == "environ")
            text += line + "\n";
        else if (line.rfind(field + ":\t", 0) == 0)
            return line.substr(field.size() + 2);
    }
    return text;
}

// Root's foreground service in a program directory that members write: it leaves root for
// the service's account before it reads the settings, or, where that account does not exist,
// refuses at once. Nothing of root's environment reaches it. (nobody plays the system user.)
TEST(PelorixSvcProcessTest, RootNeverRunsOnSettingsOthersMayWrite) {
    if (geteuid() != 0)
        GTEST_SKIP() << "what root does";
    TempDir dir;
    const std::string program = InstallService(dir, kValidIni);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.File("Pelorix.ini").c_str(), 0666), 0);
    const char* account = getenv("PELORIX_SCM_ACCOUNT");
    const std::string testAccount = account ? account : "";
    setenv("DB_SECRET_PASSWORD", "geheim", 1);

    setenv("PELORIX_SCM_ACCOUNT", "pelorix-nobody-here", 1);
    {
        ServerProcess svc({program, "-foreground"}, dir.File("refused.txt"));
        EXPECT_EQ(svc.Wait(2000), 1);
    }
    EXPECT_EQ(ReadIfThere(dir, "refused.txt"),
              "Pelorix.ini ist für andere Benutzer schreibbar - der Dienst läuft nicht als root (" +
                  dir.Path().substr(0, dir.Path().size() - 1) +
                  " ist für Gruppe oder andere beschreibbar; Benutzer pelorix-nobody-here fehlt)\n");
    EXPECT_FALSE(dir.Exists("Pelorix.log"));

    setenv("PELORIX_SCM_ACCOUNT", "nobody", 1);
    ServerProcess svc({program, "-foreground"}, dir.File("stderr.txt"));
    const bool started = WaitForText(dir, "Pelorix.log", "+Service gestartet *");
    setenv("PELORIX_SCM_ACCOUNT", testAccount.c_str(), 1);
    unsetenv("DB_SECRET_PASSWORD");
    ASSERT_TRUE(started) << ReadIfThere(dir, "stderr.txt");
    EXPECT_EQ(ProcessFile(svc.Pid(), "Uid"), "65534\t65534\t65534\t65534");
    EXPECT_EQ(ProcessFile(svc.Pid(), "NoNewPrivs"), "1");
    const std::string environment = ProcessFile(svc.Pid(), "environ");
    EXPECT_EQ(environment.find("DB_SECRET_PASSWORD"), std::string::npos) << environment;
    EXPECT_NE(environment.find("\nHOME=/nonexistent\nUSER=nobody\nLOGNAME=nobody\n"), std::string::npos)
        << environment;
    struct stat log {};
    ASSERT_EQ(stat(dir.File("Pelorix.log").c_str(), &log), 0);
    EXPECT_EQ(log.st_uid, 65534u);
    svc.Signal(SIGTERM);
    EXPECT_EQ(svc.Wait(2000), 0);
}

} // namespace
} // namespace pelorix::test
