// The real PelorixSvc under the service control layer: its switches, its lifecycle driven by
// pelorix-sc, and what its log file shows. Each test has its own service database and its
// own program directory holding a copy of the program and a Pelorix.ini.

#include "base/Latin1.h"
#include "common/Config.h"
#include "scm/ServiceControl.h"
#include "scm/ServiceDatabase.h"

#include "ServerProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace pelorix::scm;
using pelorix::test::BinaryPath;
using pelorix::test::ServerProcess;
using pelorix::test::TempDir;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string output; // stdout and stderr, UTF-8
};

class ServiceProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = temp_.Path() + "prog/PelorixSvc";
        std::filesystem::create_directory(temp_.Path() + "prog");
        std::error_code ec;
        std::filesystem::create_hard_link(BinaryPath("src/svc/PelorixSvc"), program_, ec);
        if (ec)
            std::filesystem::copy_file(BinaryPath("src/svc/PelorixSvc"), program_, ec);
        ASSERT_FALSE(ec) << ec.message();
        temp_.Write("prog/Pelorix.ini", "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=" +
                                            pelorix::ScramblePassword("geheim") +
                                            "\r\nIntervall=3\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n");
        dir_ = temp_.Path() + "services/";
        setenv(db::kDirVariable, dir_.c_str(), 1);
    }

    void TearDown() override {
        for (const auto& name : db::ListNames(dir_))
            if (const auto status = db::LoadStatus(dir_, name); status && db::Alive(*status))
                kill(static_cast<pid_t>(status->pid), SIGKILL);
        unsetenv(db::kDirVariable);
    }

    RunResult Run(std::vector<std::string> argv) {
        const std::string log = temp_.File("out" + std::to_string(++runs_));
        ServerProcess process(std::move(argv), log);
        RunResult result;
        result.exitCode = process.Wait(60000);
        result.output =
            temp_.Exists("out" + std::to_string(runs_)) ? temp_.Read("out" + std::to_string(runs_)) : "";
        return result;
    }

    RunResult Sc(std::vector<std::string> args) {
        args.insert(args.begin(), BinaryPath("src/sc/pelorix-sc"));
        return Run(std::move(args));
    }

    RunResult Svc(std::vector<std::string> args) {
        args.insert(args.begin(), program_);
        return Run(std::move(args));
    }

    std::string Log() const { return temp_.Exists("prog/Pelorix.log") ? temp_.Read("prog/Pelorix.log") : ""; }

    // The log's lines that carry one of the module's own texts, in order.
    std::vector<std::string> ModuleLines() const {
        std::vector<std::string> found;
        const std::string log = Log();
        for (const char* text : {"+Service gestartet *", "-Service angehalten *", "+Service fortgesetzt *",
                                 "-Service beendet *"})
            for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                found.emplace_back(std::to_string(at) + " " + text);
        std::sort(found.begin(), found.end(),
                  [](const std::string& a, const std::string& b) { return std::stoul(a) < std::stoul(b); });
        for (auto& line : found)
            line = line.substr(line.find(' ') + 1);
        return found;
    }

    std::string Utf8(const std::string& latin1) const { return pelorix::Latin1ToUtf8(latin1); }

    TempDir temp_;
    std::string program_;
    std::string dir_;
    int runs_ = 0;
};

TEST_F(ServiceProgramTest, InstallSwitchRegistersTheServiceAsTheManagerDoes) {
    const RunResult install = Svc({"/INSTALL"});
    EXPECT_EQ(install.exitCode, 0) << install.output;
    EXPECT_NE(install.output.find("installiert"), std::string::npos) << install.output;

    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(
        OpenServiceA(manager.Get(), "PelorixService", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service);
    SERVICE_CONFIG config;
    ASSERT_TRUE(QueryServiceConfigA(service.Get(), &config));
    EXPECT_EQ(config.ServiceName, "PelorixService");
    EXPECT_EQ(config.DisplayName, "Pelorix-Publisher");
    EXPECT_EQ(config.BinaryPathName, program_);
    EXPECT_EQ(config.dwStartType, SERVICE_AUTO_START);
    EXPECT_EQ(config.dwServiceType, SERVICE_WIN32_SHARE_PROCESS);
    EXPECT_EQ(config.dwErrorControl, SERVICE_ERROR_NORMAL);

    // Again: fails, and says why unless told to be silent.
    const RunResult again = Svc({"-install"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.output.find(Utf8(ErrorText(ERROR_SERVICE_EXISTS))), std::string::npos) << again.output;
    const RunResult silent = Svc({"/Install", "/SILENT"});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_FALSE(silent.output.empty());
    EXPECT_EQ(silent.output.find(Utf8(ErrorText(ERROR_SERVICE_EXISTS))), std::string::npos) << silent.output;

    const RunResult uninstall = Svc({"/UNINSTALL"});
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_FALSE(ScHandle(OpenServiceA(manager.Get(), "PelorixService", SERVICE_QUERY_STATUS)));
    const RunResult gone = Svc({"/uninstall"});
    EXPECT_EQ(gone.exitCode, 1);
    EXPECT_NE(gone.output.find(Utf8(ErrorText(ERROR_SERVICE_DOES_NOT_EXIST))), std::string::npos)
        << gone.output;
}

TEST_F(ServiceProgramTest, UninstallStopsARunningServiceAndRemovesIt) {
    ASSERT_EQ(Svc({"/INSTALL", "/SILENT"}).exitCode, 0);
    ASSERT_EQ(Sc({"start", "PelorixService"}).exitCode, 0);
    const RunResult uninstall = Svc({"/UNINSTALL"});
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_EQ(Sc({"query", "PelorixService"}).exitCode, 1);
    EXPECT_FALSE(temp_.Exists("services/pelorixservice.service"));
    EXPECT_EQ(ModuleLines(), (std::vector<std::string>{"+Service gestartet *", "-Service beendet *"}));
}

TEST_F(ServiceProgramTest, ScDeleteStopsARunningServiceFirst) {
    ASSERT_EQ(Sc({"create", "PelorixService", program_}).exitCode, 0);
    ASSERT_EQ(Sc({"start", "PelorixService"}).exitCode, 0);
    const RunResult removed = Sc({"delete", "PelorixService"});
    EXPECT_EQ(removed.exitCode, 0);
    EXPECT_NE(removed.output.find("wurde entfernt."), std::string::npos) << removed.output;
    EXPECT_EQ(Sc({"query", "PelorixService"}).exitCode, 1);
    EXPECT_EQ(ModuleLines(), (std::vector<std::string>{"+Service gestartet *", "-Service beendet *"}));
}

TEST_F(ServiceProgramTest, WithoutSwitchesTheProgramExplainsHowToRunIt) {
    const RunResult plain = Svc({});
    EXPECT_EQ(plain.exitCode, 2);
    EXPECT_NE(plain.output.find("-foreground"), std::string::npos) << plain.output;
    EXPECT_NE(plain.output.find("/INSTALL"), std::string::npos) << plain.output;
    EXPECT_FALSE(temp_.Exists("prog/Pelorix.log"));
}

TEST_F(ServiceProgramTest, ScDrivesTheWholeLifecycle) {
    ASSERT_EQ(Sc({"create", "PelorixService", program_, "Pelorix-Publisher"}).exitCode, 0);
    EXPECT_EQ(Sc({"create", "PelorixService", program_}).exitCode, 1);

    RunResult query = Sc({"query", "PelorixService"});
    EXPECT_EQ(query.exitCode, 0);
    EXPECT_EQ(query.output, "STOPPED\n");

    EXPECT_EQ(Sc({"start", "PelorixService"}).output, "RUNNING\n");
    const RunResult twice = Sc({"start", "PelorixService"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_NE(twice.output.find(Utf8(ErrorText(ERROR_SERVICE_ALREADY_RUNNING))), std::string::npos);

    const RunResult pause = Sc({"pause", "PelorixService"});
    EXPECT_EQ(pause.exitCode, 0);
    EXPECT_EQ(pause.output, "PAUSED\n");
    EXPECT_EQ(Sc({"query", "pelorixservice"}).output, "PAUSED\n");
    EXPECT_EQ(Sc({"continue", "PelorixService"}).output, "RUNNING\n");
    EXPECT_EQ(Sc({"query", "PelorixService"}).output, "RUNNING\n");

    const RunResult list = Sc({"list"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.output, "PelorixService\tRUNNING\tPelorix-Publisher\n");

    const RunResult stop = Sc({"stop", "PelorixService"});
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_EQ(stop.output, "STOPPED\n");
    const RunResult stopAgain = Sc({"stop", "PelorixService"});
    EXPECT_EQ(stopAgain.exitCode, 1);
    EXPECT_NE(stopAgain.output.find(Utf8(ErrorText(ERROR_SERVICE_NOT_ACTIVE))), std::string::npos);
    EXPECT_EQ(Sc({"pause", "PelorixService"}).exitCode, 1);
    EXPECT_EQ(Sc({"continue", "PelorixService"}).exitCode, 1);

    EXPECT_EQ(ModuleLines(), (std::vector<std::string>{"+Service gestartet *", "-Service angehalten *",
                                                       "+Service fortgesetzt *", "-Service beendet *"}));

    EXPECT_EQ(Sc({"delete", "PelorixService"}).exitCode, 0);
    const RunResult missing = Sc({"query", "PelorixService"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find(Utf8(ErrorText(ERROR_SERVICE_DOES_NOT_EXIST))), std::string::npos);
    EXPECT_EQ(Sc({"delete", "PelorixService"}).exitCode, 1);
    EXPECT_EQ(Sc({"list"}).output, "");
}

// Two services registered on one program directory: the second start fails and touches nothing.
TEST_F(ServiceProgramTest, ASecondServiceOnTheSameDirectoryFailsToStart) {
    ASSERT_EQ(Sc({"create", "PelorixService", program_}).exitCode, 0);
    ASSERT_EQ(Sc({"create", "Zweiter", program_}).exitCode, 0);
    EXPECT_EQ(Sc({"start", "PelorixService"}).output, "RUNNING\n");
    const std::string log = Log();
    EXPECT_EQ(Sc({"start", "Zweiter"}).exitCode, 1);
    EXPECT_EQ(Sc({"query", "Zweiter"}).output.rfind("STOPPED\n", 0), 0u);
    EXPECT_EQ(Sc({"query", "PelorixService"}).output, "RUNNING\n");
    EXPECT_EQ(Log(), log);
    EXPECT_EQ(Sc({"stop", "PelorixService"}).exitCode, 0);
}

TEST_F(ServiceProgramTest, ScRefusesWrongUse) {
    EXPECT_EQ(Sc({}).exitCode, 2);
    EXPECT_EQ(Sc({"frobnicate", "X"}).exitCode, 2);
    EXPECT_EQ(Sc({"start"}).exitCode, 2);
    EXPECT_EQ(Sc({"query", "A", "B"}).exitCode, 2);
    EXPECT_EQ(Sc({"create", "OnlyName"}).exitCode, 2);
    const RunResult badName = Sc({"create", "a/b", program_});
    EXPECT_EQ(badName.exitCode, 1);
}

TEST_F(ServiceProgramTest, BootStartsTheAutomaticServicesAndShutdownEndsThemWithoutTheirHandlers) {
    ASSERT_EQ(Svc({"/INSTALL"}).exitCode, 0);
    {
        ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ScHandle demand(CreateServiceA(manager.Get(), "OnDemand", nullptr, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                       program_.c_str()));
        ASSERT_TRUE(demand);
    }
    const RunResult boot = Sc({"boot"});
    EXPECT_EQ(boot.exitCode, 0) << boot.output;
    EXPECT_EQ(boot.output, "PelorixService: RUNNING\n");
    EXPECT_EQ(Sc({"query", "OnDemand"}).output, "STOPPED\n");
    EXPECT_EQ(Sc({"boot"}).output, ""); // nothing left to start

    const RunResult shutdown = Sc({"shutdown"});
    EXPECT_EQ(shutdown.exitCode, 0) << shutdown.output;
    EXPECT_EQ(shutdown.output, "PelorixService: STOPPED\n");
    EXPECT_EQ(Sc({"query", "PelorixService"}).output, "STOPPED\n");
    // At shutdown the module's handlers are not called: its stop line is missing.
    EXPECT_EQ(ModuleLines(), std::vector<std::string>{"+Service gestartet *"});
}

TEST_F(ServiceProgramTest, BootReportsAServiceThatCannotStartAndStartsTheOthers) {
    ASSERT_EQ(Sc({"create", "Broken", temp_.Path() + "prog/missing"}).exitCode, 0);
    ASSERT_EQ(Svc({"/INSTALL"}).exitCode, 0);
    const RunResult boot = Sc({"boot"});
    EXPECT_EQ(boot.exitCode, 1);
    EXPECT_NE(boot.output.find(Utf8(ErrorText(ERROR_FILE_NOT_FOUND))), std::string::npos) << boot.output;
    EXPECT_NE(boot.output.find("PelorixService: RUNNING\n"), std::string::npos) << boot.output;
    EXPECT_EQ(Sc({"query", "Broken"}).output, "STOPPED\n");
    EXPECT_EQ(Sc({"stop", "PelorixService"}).exitCode, 0);
}

// Root's boot start refuses a program someone else could have written, says why and records it.
TEST_F(ServiceProgramTest, BootAsRootRefusesAProgramItDoesNotOwnAndStartsTheOthers) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const std::string foreign = temp_.Path() + "prog/foreign";
    temp_.Write("prog/foreign", "#!/bin/sh\ntouch " + temp_.Path() + "ran\n");
    chmod(foreign.c_str(), 0755);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    ASSERT_EQ(Sc({"create", "Foreign", foreign}).exitCode, 0);
    ASSERT_EQ(Svc({"/INSTALL"}).exitCode, 0);
    const RunResult boot = Sc({"boot"});
    EXPECT_EQ(boot.exitCode, 1);
    const std::string why =
        Utf8(ErrorText(ERROR_ACCESS_DENIED)) + " (Fehler 5): " + foreign + " gehört nicht root\n";
    EXPECT_NE(boot.output.find("Dienst \"Foreign\" konnte nicht gestartet werden: " + why), std::string::npos)
        << boot.output;
    EXPECT_NE(boot.output.find("PelorixService: RUNNING\n"), std::string::npos) << boot.output;
    EXPECT_FALSE(temp_.Exists("ran"));
    EXPECT_EQ(Sc({"query", "Foreign"}).output, "STOPPED\nDienst \"Foreign\", letzter Fehler: " + why);
    EXPECT_EQ(Sc({"stop", "PelorixService"}).exitCode, 0);
}

TEST_F(ServiceProgramTest, HelpNamesEveryVerbOnStdout) {
    const RunResult help = Run({"/bin/sh", "-c", BinaryPath("src/sc/pelorix-sc") + " --help 2>/dev/null"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* verb :
         {"create", "delete", "start", "stop", "pause", "continue", "query", "list", "boot", "shutdown"})
        EXPECT_NE(help.output.find(std::string("\n  ") + verb + " "), std::string::npos) << verb;
    EXPECT_EQ(Sc({"frobnicate"}).exitCode, 2);
}

TEST_F(ServiceProgramTest, AServiceEndedBySigkillQueriesStoppedAndStartsAgain) {
    ASSERT_EQ(Svc({"/INSTALL"}).exitCode, 0);
    ASSERT_EQ(Sc({"start", "PelorixService"}).exitCode, 0);
    const auto status = db::LoadStatus(dir_, "PelorixService");
    ASSERT_TRUE(status);
    kill(static_cast<pid_t>(status->pid), SIGKILL);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (db::ProcessStartTime(status->pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Sc({"query", "PelorixService"}).output, "STOPPED\n");
    EXPECT_EQ(Sc({"stop", "PelorixService"}).exitCode, 1);
    EXPECT_EQ(Sc({"start", "PelorixService"}).output, "RUNNING\n");
    EXPECT_EQ(Sc({"stop", "PelorixService"}).output, "STOPPED\n");
}

// What "Änderungen werden erst nach Neustart des Dienstes wirksam!" asks for: a stop returns
// only once the process has ended, so the start right after it never meets the old one.
TEST_F(ServiceProgramTest, AStopFollowedAtOnceByAStartSucceedsEveryTime) {
    ASSERT_EQ(Svc({"/INSTALL"}).exitCode, 0);
    for (int round = 0; round < 50; ++round) {
        const RunResult start = Sc({"start", "PelorixService"});
        ASSERT_EQ(start.output, "RUNNING\n") << "round " << round;
        const RunResult stop = Sc({"stop", "PelorixService"});
        ASSERT_EQ(stop.output, "STOPPED\n") << "round " << round;
    }
    EXPECT_EQ(Sc({"query", "PelorixService"}).output, "STOPPED\n");
}

TEST_F(ServiceProgramTest, SigtermEndsAControlledServiceAsAShutdownDoes) {
    ASSERT_EQ(Svc({"/INSTALL"}).exitCode, 0);
    ASSERT_EQ(Sc({"start", "PelorixService"}).exitCode, 0);
    const auto status = db::LoadStatus(dir_, "PelorixService");
    ASSERT_TRUE(status);
    kill(static_cast<pid_t>(status->pid), SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (db::ProcessStartTime(status->pid) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(db::ProcessStartTime(status->pid));
    const auto last = db::LoadStatus(dir_, "PelorixService");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->state, SERVICE_STOPPED); // it said so before it ended
    EXPECT_EQ(ModuleLines(), std::vector<std::string>{"+Service gestartet *"});
}

TEST_F(ServiceProgramTest, RequestsSentAtOnceAreHandledOneAfterTheOther) {
    ASSERT_EQ(Svc({"/INSTALL"}).exitCode, 0);
    ASSERT_EQ(Sc({"start", "PelorixService"}).exitCode, 0);
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceA(manager.Get(), "PelorixService", SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service);

    // Two pauses and a query at the same moment: one pause holds the worker, the other finds
    // the service paused already; no handler runs twice or into another.
    const DWORD controls[3] = {SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_INTERROGATE};
    DWORD results[3] = {};
    std::vector<std::thread> senders;
    for (int i = 0; i < 3; ++i)
        senders.emplace_back([&, i] {
            SERVICE_STATUS status;
            results[i] = ControlService(service.Get(), controls[i], &status) ? 0 : GetLastError();
        });
    for (auto& t : senders)
        t.join();
    EXPECT_EQ(results[0], 0u);
    EXPECT_EQ(results[1], 0u);
    EXPECT_EQ(results[2], 0u);
    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service.Get(), &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_PAUSED);
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(ModuleLines(), (std::vector<std::string>{"+Service gestartet *", "-Service angehalten *",
                                                       "-Service beendet *"}));
}

} // namespace
