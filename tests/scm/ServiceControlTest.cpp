// The service control layer against real detached processes: this test program doubles as a
// small service (when the control layer starts it) that reports its states over the channel
// and records each request it handles, so the calls' contract is checked without the
// publishing service.

#include "scm/ServiceControl.h"
#include "base/Latin1.h"
#include "scm/ServiceChannel.h"
#include "scm/ServiceDatabase.h"
#include "scm/ServiceProcess.h"

#include "ServerProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace pelorix::scm;
using pelorix::test::BinaryPath;
using pelorix::test::ServerProcess;
using pelorix::test::TempDir;

namespace {

constexpr const char* kJournalVariable = "PELORIX_TEST_JOURNAL";
constexpr const char* kDelayVariable = "PELORIX_TEST_DELAY_MS";
// Set: the small service begins as the service program does (ServiceProcess.h) and journals
// whether it could become root again.
constexpr const char* kLeaveRootVariable = "PELORIX_TEST_LEAVE_ROOT";
// How long the process lives on after it reported stopped, as the publishing service does while
// its worker ends.
constexpr const char* kLingerVariable = "PELORIX_TEST_LINGER_MS";

void Journal(const std::string& line) {
    const char* path = std::getenv(kJournalVariable);
    if (!path)
        return;
    std::ofstream out(path, std::ios::app);
    out << line << '\n';
}

// The small service: every request is journalled as "begin N" … "end N", with an optional
// delay in between so that overlapping requests would show.
int RunTestService() {
    pelorix::ServiceChannel channel;
    if (!channel.Open(pelorix::ServiceChannel::StartedServiceName()))
        return 3;
    const char* delayText = std::getenv(kDelayVariable);
    const int delayMs = delayText ? std::atoi(delayText) : 0;
    channel.ReportStatus(SERVICE_RUNNING);
    Journal("started");
    if (std::getenv(kLeaveRootVariable))
        Journal(setuid(0) == 0 || setgid(0) == 0 ? "root regained" : "root out of reach");
    for (;;) {
        auto request = channel.NextRequest(-1);
        if (!request)
            continue;
        const DWORD control = request->Control();
        Journal("begin " + std::to_string(control));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        DWORD error = ERROR_SUCCESS;
        switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            channel.ReportStatus(SERVICE_STOPPED);
            break;
        case SERVICE_CONTROL_PAUSE:
            channel.ReportStatus(SERVICE_PAUSED);
            break;
        case SERVICE_CONTROL_CONTINUE:
            channel.ReportStatus(SERVICE_RUNNING);
            break;
        case SERVICE_CONTROL_INTERROGATE:
            break;
        default:
            error = ERROR_INVALID_SERVICE_CONTROL;
        }
        Journal("end " + std::to_string(control));
        channel.Answer(*request, error);
        if (channel.State() == SERVICE_STOPPED) {
            const char* linger = std::getenv(kLingerVariable);
            std::this_thread::sleep_for(std::chrono::milliseconds(linger ? std::atoi(linger) : 0));
            return 0;
        }
    }
}

std::string SelfPath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// A copy of this program in dir under the service program's name, which alone root starts
// (a hard link where the file system allows one).
std::string LinkToThisProgram(const std::string& dir) {
    const std::string program = dir + "PelorixSvc";
    std::error_code error;
    std::filesystem::create_hard_link(SelfPath(), program, error);
    if (error)
        std::filesystem::copy_file(SelfPath(), program, error);
    return program;
}

DWORD State(SC_HANDLE service) {
    SERVICE_STATUS status;
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

// Bounded polling for a real process's state.
bool WaitForState(SC_HANDLE service, DWORD state, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (State(service) != state) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Time that passes only while someone sleeps on it.
class WaitingClock final : public pelorix::IClock, public pelorix::ISleeper {
public:
    pelorix::LocalTime Now() const override { return {}; }
    long long MonotonicMs() const override { return now_; }
    void SleepMs(int ms) override { now_ += ms; }

private:
    long long now_ = 0;
};

class ServiceControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = temp_.Path() + "services";
        setenv(db::kDirVariable, dir_.c_str(), 1);
        setenv(kJournalVariable, temp_.File("journal").c_str(), 1);
        unsetenv(kDelayVariable);
        unsetenv(kLingerVariable);
        program_ = LinkToThisProgram(temp_.Path());
        manager_ = ScHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_);
    }

    void TearDown() override {
        // No service of a failed test may outlive it.
        for (const auto& name : db::ListNames(dir_ + "/"))
            if (const auto status = db::LoadStatus(dir_ + "/", name); status && db::Alive(*status))
                kill(static_cast<pid_t>(status->pid), SIGKILL);
        unsetenv(db::kDirVariable);
        setenv(kAccountVariable, "root", 1);
        unsetenv(kLeaveRootVariable);
    }

    // This program is the services' program unless path names another.
    ScHandle Create(const std::string& name, const std::string& path = {}) {
        return ScHandle(CreateServiceA(manager_.Get(), name.c_str(), "Test-Dienst", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_SHARE_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       (path.empty() ? program_ : path).c_str()));
    }

    ScHandle Open(const std::string& name, DWORD access = SERVICE_ALL_ACCESS) {
        return ScHandle(OpenServiceA(manager_.Get(), name.c_str(), access));
    }

    std::string JournalText() const { return temp_.Exists("journal") ? temp_.Read("journal") : ""; }

    TempDir temp_;
    std::string dir_;
    std::string program_;
    ScHandle manager_;
};

TEST_F(ServiceControlTest, RunsThroughTheWholeLifecycle) {
    const ScHandle service = Create("TestService");
    ASSERT_TRUE(service);
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);

    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_RUNNING));
    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service.Get(), &status));
    EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_SHARE_PROCESS);
    EXPECT_EQ(status.dwControlsAccepted,
              SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN);

    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_PAUSE, &status)) << GetLastError();
    EXPECT_EQ(status.dwCurrentState, SERVICE_PAUSED);
    EXPECT_EQ(State(service.Get()), SERVICE_PAUSED);
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_PAUSED);
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_CONTINUE, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);
    EXPECT_FALSE(temp_.Exists("services/testservice.sock"));

    // Started again, in a new process.
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(JournalText(), "started\nbegin 2\nend 2\nbegin 4\nend 4\nbegin 3\nend 3\nbegin 1\nend 1\n"
                             "started\nbegin 1\nend 1\n");
}

// The entries of a process's environment as it was started, each ended by "\n".
std::string StartEnvironment(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ");
    std::string entries;
    for (std::string entry; std::getline(in, entry, '\0');)
        entries += entry + "\n";
    return entries;
}

TEST_F(ServiceControlTest, TheServiceRunsDetachedInItsProgramDirectoryWithACleanEnvironment) {
    const ScHandle service = Create("Detached");
    setenv("DB_SECRET_PASSWORD", "geheim", 1);
    const bool started = StartServiceA(service.Get(), 0, nullptr);
    unsetenv("DB_SECRET_PASSWORD");
    ASSERT_TRUE(started);
    const auto status = db::LoadStatus(dir_ + "/", "Detached");
    ASSERT_TRUE(status);
    const std::string environment = StartEnvironment(status->pid);
    EXPECT_EQ(environment.find("DB_SECRET_PASSWORD"), std::string::npos) << environment;
    EXPECT_NE(environment.find("PELORIX_SCM_SERVICE=Detached\n"), std::string::npos) << environment;
    const std::string proc = "/proc/" + std::to_string(status->pid);
    char cwd[4096] = {};
    ASSERT_GT(readlink((proc + "/cwd").c_str(), cwd, sizeof cwd - 1), 0);
    EXPECT_EQ(std::string(cwd) + "/", temp_.Path());
    EXPECT_NE(getsid(static_cast<pid_t>(status->pid)), getsid(0)); // a session of its own
    EXPECT_NE(getppid(), status->pid);
    // Not this process's child: nothing is left for the caller to reap.
    EXPECT_EQ(waitpid(static_cast<pid_t>(status->pid), nullptr, WNOHANG), -1);

    struct stat socketInfo {};
    ASSERT_EQ(stat((dir_ + "/detached.sock").c_str(), &socketInfo), 0);
    EXPECT_EQ(socketInfo.st_mode & 0777, 0660u);
    SERVICE_STATUS ignored;
    ControlService(service.Get(), SERVICE_CONTROL_STOP, &ignored);
}

TEST_F(ServiceControlTest, RefusesWhatDoesNotFitTheState) {
    const ScHandle service = Create("Refuser");
    ASSERT_TRUE(service);

    SERVICE_STATUS status;
    for (const DWORD control : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE}) {
        EXPECT_FALSE(ControlService(service.Get(), control, &status));
        EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
        EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    }
    EXPECT_FALSE(ControlService(service.Get(), 99, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr));
    EXPECT_FALSE(StartServiceA(service.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
}

TEST_F(ServiceControlTest, NamesAreUniqueWithoutRegardToCase) {
    EXPECT_TRUE(Create("PelorixService"));
    EXPECT_FALSE(Create("PelorixService"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
    EXPECT_FALSE(Create("PELORIXSERVICE"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);

    const ScHandle other = Open("pelorixservice", SERVICE_QUERY_CONFIG);
    ASSERT_TRUE(other);
    SERVICE_CONFIG config;
    ASSERT_TRUE(QueryServiceConfigA(other.Get(), &config));
    EXPECT_EQ(config.ServiceName, "PelorixService");
    EXPECT_EQ(config.DisplayName, "Test-Dienst");
    EXPECT_EQ(config.BinaryPathName, program_);
    EXPECT_EQ(config.dwStartType, SERVICE_AUTO_START);
    EXPECT_EQ(config.dwServiceType, SERVICE_WIN32_SHARE_PROCESS);
    EXPECT_EQ(config.dwErrorControl, SERVICE_ERROR_NORMAL);

    for (const char* bad : {"", "../x", "a/b", ".hidden"}) {
        EXPECT_FALSE(Create(bad)) << bad;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << bad;
    }
    EXPECT_FALSE(ScHandle(CreateServiceA(manager_.Get(), "Lines", "a\nb", SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         "/bin/true")));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Open("Lines"));
}

TEST_F(ServiceControlTest, OpeningAMissingServiceFails) {
    EXPECT_FALSE(Open("Missing"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(Open("../../etc/passwd"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ServiceControlTest, DeletesAStoppedServiceAtOnce) {
    ScHandle service = Create("Gone");
    ASSERT_TRUE(DeleteService(service.Get()));
    EXPECT_FALSE(DeleteService(service.Get()));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(Open("Gone"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_TRUE(Create("Gone")); // the name is free again
}

TEST_F(ServiceControlTest, DeletesARunningServiceWhenItStops) {
    const ScHandle service = Create("Doomed");
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr));

    ASSERT_TRUE(DeleteService(service.Get()));
    EXPECT_FALSE(Open("Doomed"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(Create("Doomed"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_FALSE(DeleteService(service.Get()));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    std::vector<ENUM_SERVICE_STATUS> listed;
    ASSERT_TRUE(EnumServicesStatusA(manager_.Get(), &listed));
    EXPECT_TRUE(listed.empty());

    // The manager's uninstall: stop through the handle it holds, and the service is gone.
    SERVICE_STATUS status;
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_FALSE(Open("Doomed"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(temp_.Exists("services/doomed.service"));
    EXPECT_FALSE(temp_.Exists("services/doomed.status"));
}

TEST_F(ServiceControlTest, AMarkedServiceWhoseProcessDiedIsRemovedWhenNextSeen) {
    const ScHandle service = Create("Crashed");
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr));
    ASSERT_TRUE(DeleteService(service.Get()));
    const auto status = db::LoadStatus(dir_ + "/", "Crashed");
    ASSERT_TRUE(status);
    kill(static_cast<pid_t>(status->pid), SIGKILL);
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_STOPPED));
    EXPECT_FALSE(Open("Crashed"));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
}

TEST_F(ServiceControlTest, AKilledServiceIsStopped) {
    const ScHandle service = Create("Victim");
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr));
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_RUNNING));
    const auto status = db::LoadStatus(dir_ + "/", "Victim");
    ASSERT_TRUE(status);
    kill(static_cast<pid_t>(status->pid), SIGKILL);
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_STOPPED));

    SERVICE_STATUS current;
    EXPECT_FALSE(ControlService(service.Get(), SERVICE_CONTROL_PAUSE, &current));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_RUNNING));
    EXPECT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &current));
}

TEST_F(ServiceControlTest, AReusedProcessNumberIsNotTheService) {
    const ScHandle service = Create("Reused");
    // A status naming a live process (this one) but another start time: the service's own
    // process has ended and its number went to someone else.
    db::Status stale;
    stale.pid = getpid();
    stale.startTime = *db::ProcessStartTime(getpid()) + 1;
    stale.state = SERVICE_RUNNING;
    ASSERT_TRUE(db::SaveStatus(dir_ + "/", "Reused", stale));
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);
    SERVICE_STATUS status;
    EXPECT_FALSE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    stale.startTime -= 1; // now it is this very process
    ASSERT_TRUE(db::SaveStatus(dir_ + "/", "Reused", stale));
    EXPECT_EQ(State(service.Get()), SERVICE_RUNNING);
    unlink((dir_ + "/reused.status").c_str()); // this process is no service to be ended
}

TEST_F(ServiceControlTest, StartFailsWhenTheProgramCannotRun) {
    const ScHandle missing = Create("NoProgram", temp_.Path() + "nothing-here");
    EXPECT_FALSE(StartServiceA(missing.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(State(missing.Get()), SERVICE_STOPPED);

    // A program that ends without ever reporting.
    std::filesystem::create_directory(temp_.File("quitter"));
    ASSERT_TRUE(std::filesystem::copy_file("/bin/true", temp_.File("quitter/PelorixSvc")));
    const ScHandle quitter = Create("Quitter", temp_.File("quitter/PelorixSvc"));
    EXPECT_FALSE(StartServiceA(quitter.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PROCESS_ABORTED);
    EXPECT_EQ(State(quitter.Get()), SERVICE_STOPPED);

    const ScHandle disabled(CreateServiceA(manager_.Get(), "Disabled", nullptr, SERVICE_ALL_ACCESS,
                                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED, SERVICE_ERROR_NORMAL,
                                           program_.c_str()));
    ASSERT_TRUE(disabled);
    EXPECT_FALSE(StartServiceA(disabled.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DISABLED);
}

// One field of /proc/PID/status, such as "Uid".
std::string ProcessField(long pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":\t", 0) == 0)
            return line.substr(field.size() + 2);
    return {};
}

// Root starts the service program as root, and the program leaves root itself before it
// reads anything, for good; any other program, even one only root could have written, is
// refused and the status says why. (nobody plays the system user pelorix.)
TEST_F(ServiceControlTest, RootStartsOnlyTheServiceProgramWhichLeavesRootItself) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    setenv(kAccountVariable, "nobody", 1);
    setenv(kLeaveRootVariable, "1", 1);
    chmod(temp_.Path().c_str(), 0755);
    chmod(dir_.c_str(), 0777);
    temp_.Write("journal", "");
    chmod(temp_.File("journal").c_str(), 0666);

    const std::string other = temp_.File("other-program");
    std::filesystem::copy_file(SelfPath(), other);
    const ScHandle refused = Create("Other", other);
    EXPECT_FALSE(StartServiceA(refused.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    std::string reason;
    ASSERT_TRUE(QueryServiceStopReason(refused.Get(), &reason));
    EXPECT_EQ(reason, other + " ist nicht das Dienstprogramm PelorixSvc");

    const ScHandle service = Create("Dropped");
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_RUNNING));
    const auto status = db::LoadStatus(dir_ + "/", "Dropped");
    ASSERT_TRUE(status);
    const std::string environment = StartEnvironment(status->pid);
    EXPECT_NE(environment.find("\nUSER=nobody\nLOGNAME=nobody\n"), std::string::npos) << environment;
    EXPECT_EQ(ProcessField(status->pid, "Uid"), "65534\t65534\t65534\t65534");
    EXPECT_EQ(ProcessField(status->pid, "Gid"), "65534\t65534\t65534\t65534");
    EXPECT_EQ(ProcessField(status->pid, "Groups"), "65534 ");
    EXPECT_EQ(ProcessField(status->pid, "NoNewPrivs"), "1");
    SERVICE_STATUS stopped;
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &stopped)) << GetLastError();
    EXPECT_EQ(JournalText(), "started\nroot out of reach\nbegin 1\nend 1\n");
}

TEST_F(ServiceControlTest, RootRefusesAProgramOthersCouldHaveWrittenAndSaysWhy) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    std::filesystem::create_directory(temp_.File("foreign"));
    temp_.Write("foreign/PelorixSvc", "#!/bin/sh\n");
    const std::string foreign = temp_.File("foreign/PelorixSvc");
    chmod(foreign.c_str(), 0755);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    const ScHandle service = Create("Foreign", foreign);
    EXPECT_FALSE(StartServiceA(service.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    SERVICE_STATUS status;
    ASSERT_TRUE(QueryServiceStatus(service.Get(), &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwWin32ExitCode, ERROR_ACCESS_DENIED);
    std::string reason;
    ASSERT_TRUE(QueryServiceStopReason(service.Get(), &reason));
    EXPECT_EQ(reason, foreign + " gehört nicht root"_l1);

    // Once only root could have written it, it starts, and the refusal recorded goes.
    std::filesystem::remove(foreign);
    ASSERT_TRUE(std::filesystem::copy_file(SelfPath(), foreign));
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(QueryServiceStatus(service.Get(), &status));
    EXPECT_EQ(status.dwWin32ExitCode, ERROR_SUCCESS);
    ASSERT_TRUE(QueryServiceStopReason(service.Get(), &reason));
    EXPECT_EQ(reason, "");
}

// What a member may put under a service's file names: root neither follows nor waits on it.
TEST_F(ServiceControlTest, LinksAndFifosPlantedInTheDatabaseAreNotFollowed) {
    const ScHandle service = Create("Planted");
    ASSERT_TRUE(service);
    ASSERT_EQ(mkfifo((dir_ + "/planted.status").c_str(), 0664), 0);
    unlink((dir_ + "/planted.lock").c_str());
    ASSERT_EQ(symlink(temp_.File("created-by-root").c_str(), (dir_ + "/planted.lock").c_str()), 0);
    EXPECT_EQ(State(service.Get()), SERVICE_STOPPED);
    EXPECT_FALSE(StartServiceA(service.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(temp_.Exists("created-by-root"));
}

// Root's tools at boot, at shutdown and at the package's removal meet whatever a member put
// under a service's lock file: they end in time and say why in German.
TEST_F(ServiceControlTest, APlantedFifoOrAHeldLockNeverHoldsUpRootsTools) {
    const ScHandle service = Create("Stuck");
    ASSERT_TRUE(service);
    const std::string lock = dir_ + "/stuck.lock";
    unlink(lock.c_str());
    ASSERT_EQ(mkfifo(lock.c_str(), 0664), 0);
    // Exit code and output of pelorix-sc; -1 when it had not ended after 10 s.
    const auto sc = [&](std::vector<std::string> args) {
        const std::string out = "sc-" + args[0];
        args.insert(args.begin(), BinaryPath("src/sc/pelorix-sc"));
        ServerProcess process(std::move(args), temp_.File(out));
        const int code = process.Wait(10000);
        return std::to_string(code) + " " + (temp_.Exists(out) ? temp_.Read(out) : "");
    };
    const std::string locked = "Die Dienstdatenbank ist gesperrt. (Fehler 1055)\n";
    EXPECT_EQ(sc({"boot"}), "1 Dienst \"Stuck\" konnte nicht gestartet werden: " + locked);
    EXPECT_EQ(sc({"delete", "Stuck"}), "1 Dienst \"Stuck\" konnte nicht entfernt werden: " + locked);

    // A plain lock file that someone holds for ever: waited for on the clock, then given up.
    unlink(lock.c_str());
    const db::Lock held(dir_ + "/", "Stuck");
    ASSERT_TRUE(held.Held());
    WaitingClock clock;
    const db::Lock second(dir_ + "/", "Stuck", clock, clock);
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_GE(clock.MonotonicMs(), db::Lock::kWaitMs);
    EXPECT_LT(clock.MonotonicMs(), db::Lock::kWaitMs + 2 * db::Lock::kPollMs);
}

TEST_F(ServiceControlTest, RequestsSentAtOnceAreHandledOneAfterTheOther) {
    setenv(kDelayVariable, "150", 1);
    const ScHandle service = Create("Busy");
    ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr));
    ASSERT_TRUE(WaitForState(service.Get(), SERVICE_RUNNING));

    bool results[3] = {};
    std::vector<std::thread> senders;
    const DWORD controls[3] = {SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_INTERROGATE,
                               SERVICE_CONTROL_INTERROGATE};
    for (int i = 0; i < 3; ++i)
        senders.emplace_back([&, i] {
            SERVICE_STATUS status;
            results[i] = ControlService(service.Get(), controls[i], &status);
        });
    for (auto& t : senders)
        t.join();
    for (const bool ok : results)
        EXPECT_TRUE(ok);
    EXPECT_EQ(State(service.Get()), SERVICE_PAUSED);

    // Every "begin" is followed by its own "end" before the next request begins.
    std::istringstream lines(JournalText());
    std::string line;
    std::string open;
    int handled = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("begin ", 0) == 0) {
            EXPECT_TRUE(open.empty()) << "overlapping: " << open << " and " << line;
            open = line.substr(6);
        } else if (line.rfind("end ", 0) == 0) {
            EXPECT_EQ(open, line.substr(4));
            open.clear();
            ++handled;
        }
    }
    EXPECT_EQ(handled, 3);
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
}

TEST_F(ServiceControlTest, WithoutWritePermissionOnlyReadingIsAllowed) {
    ASSERT_TRUE(Create("Guarded"));
    // Root passes any permission bits, so the check runs as an ordinary user in a child.
    chmod(temp_.Path().c_str(), 0755);
    chmod(dir_.c_str(), 0555);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        int failures = 0;
        ScHandle all(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        failures += all || GetLastError() != ERROR_ACCESS_DENIED;
        ScHandle connect(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        failures += !connect;
        ScHandle control(OpenServiceA(connect.Get(), "Guarded", SERVICE_START | SERVICE_QUERY_STATUS));
        failures += control || GetLastError() != ERROR_ACCESS_DENIED;
        ScHandle query(OpenServiceA(connect.Get(), "Guarded", SERVICE_QUERY_STATUS));
        failures += !query || State(query.Get()) != SERVICE_STOPPED;
        ScHandle none(OpenServiceA(connect.Get(), "Guarded", SERVICE_QUERY_STATUS));
        failures += !none                                                                             ? 1
                    : !StartServiceA(none.Get(), 0, nullptr) && GetLastError() == ERROR_ACCESS_DENIED ? 0
                                                                                                      : 1;
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(dir_.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ServiceControlTest, CreatesAMissingDatabaseDirectory) {
    const std::string nested = temp_.Path() + "var/lib/services";
    setenv(db::kDirVariable, nested.c_str(), 1);
    ScHandle manager(OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_ALL_ACCESS));
    ASSERT_TRUE(manager);
    struct stat info {};
    ASSERT_EQ(stat(nested.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));

    EXPECT_FALSE(ScHandle(OpenSCManagerA("otherhost", nullptr, SC_MANAGER_CONNECT)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ScHandle(OpenSCManagerA(nullptr, "Other", SC_MANAGER_CONNECT)));
    EXPECT_EQ(GetLastError(), ERROR_DATABASE_DOES_NOT_EXIST);
}

TEST_F(ServiceControlTest, HandlesAreCheckedAndClosedOnce) {
    ScHandle service = Create("Handled");
    SERVICE_STATUS status;
    EXPECT_FALSE(QueryServiceStatus(manager_.Get(), &status)); // wrong kind
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ScHandle(OpenServiceA(service.Get(), "Handled", SERVICE_QUERY_STATUS)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    const SC_HANDLE raw = service.Release();
    EXPECT_TRUE(CloseServiceHandle(raw));
    EXPECT_FALSE(CloseServiceHandle(raw));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseServiceHandle(nullptr));

    // A handle opened for querying only may do nothing else.
    ScHandle query = Open("Handled", SERVICE_QUERY_STATUS);
    ASSERT_TRUE(query);
    EXPECT_FALSE(StartServiceA(query.Get(), 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteService(query.Get()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // Closing through the owner keeps the error the caller is about to report.
    SetLastError(ERROR_SERVICE_EXISTS);
    query.Reset();
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
}

TEST_F(ServiceControlTest, ListsServicesInNameOrder) {
    Create("Zeta");
    Create("alpha");
    std::vector<ENUM_SERVICE_STATUS> services;
    ASSERT_TRUE(EnumServicesStatusA(manager_.Get(), &services));
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].ServiceName, "alpha");
    EXPECT_EQ(services[1].ServiceName, "Zeta");
    EXPECT_EQ(services[1].ServiceStatus.dwCurrentState, SERVICE_STOPPED);

    ScHandle connectOnly(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    EXPECT_FALSE(EnumServicesStatusA(connectOnly.Get(), &services));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ScHandle(CreateServiceA(connectOnly.Get(), "New", nullptr, SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         "/bin/true")));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(ServiceErrorText, GivesTheSystemsGermanMessages) {
    EXPECT_EQ(ErrorText(5), "Zugriff verweigert");
    EXPECT_EQ(ErrorText(2), "Das System kann die angegebene Datei nicht finden.");
    EXPECT_EQ(ErrorText(1060), "Der angegebene Dienst ist kein installierter Dienst.");
    EXPECT_EQ(ErrorText(1056), "Eine Instanz des Dienstes wird bereits ausgeführt."_l1);
    EXPECT_EQ(ErrorText(1062), "Der Dienst wurde nicht gestartet.");
    EXPECT_EQ(ErrorText(1055), "Die Dienstdatenbank ist gesperrt.");
    EXPECT_EQ(ErrorText(1072), "Der angegebene Dienst wurde zum Löschen markiert."_l1);
    EXPECT_EQ(ErrorText(1073), "Der angegebene Dienst ist bereits vorhanden.");
    EXPECT_EQ(ErrorText(4711), "Unbekannter Systemfehler (Fehlercode 4711).");
    EXPECT_STREQ(StateName(SERVICE_CONTINUE_PENDING), "CONTINUE_PENDING");
    EXPECT_STREQ(StateName(SERVICE_PAUSED), "PAUSED");
}

} // namespace

// The control layer starts this very program as the test service.
int main(int argc, char** argv) {
    if (!pelorix::ServiceChannel::StartedServiceName().empty()) {
        const std::string self = SelfPath();
        if (std::getenv(kLeaveRootVariable) &&
            !pelorix::PrepareServiceProcess(argv, self.substr(0, self.rfind('/')) + "/Pelorix.ini"))
            return 1;
        return RunTestService();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST_F(ServiceControlTest, StopReturnsOnceTheProcessHasEndedSoAStartAtOnceSucceeds) {
    setenv(kLingerVariable, "300", 1);
    const ScHandle service = Create("Lingering");
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(StartServiceA(service.Get(), 0, nullptr)) << GetLastError();
        const auto running = db::LoadStatus(dir_ + "/", "Lingering");
        ASSERT_TRUE(running);
        SERVICE_STATUS status;
        ASSERT_TRUE(ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) << GetLastError();
        EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
        EXPECT_FALSE(db::Alive(*running)) << "stop returned while the process still ran";
    }
}
