// The child-process launcher with real programs: a child that ignores SIGTERM, descriptors
// that must neither reach the child nor stay open in the caller, and programs that cannot run.

#include "TempDir.h"

#include "platform/ChildProcess_posix.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

namespace pelorix {
namespace {

ChildSetup Shell(const std::string& script) {
    ChildSetup setup;
    setup.Program = "/bin/sh";
    setup.Arguments = {"sh", "-c", script};
    setup.Output = ChildStream::Pipe;
    setup.Error = ChildStream::Pipe;
    return setup;
}

// Alive and not merely waiting to be reaped.
bool Alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string skip, state;
    return ::kill(pid, 0) == 0 && stat >> skip >> skip >> state && state != "Z";
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

const IClock& Clock() {
    return SystemClock::Instance();
}

TEST(ChildProcessTest, AChildThatIgnoresTermIsKilledWithItsGroupAtTheLimit) {
    int error = 0;
    auto child = ChildProcess::Start(Shell("trap '' TERM; sleep 30 & echo $!; wait"), error);
    ASSERT_TRUE(child) << error;
    std::string output;
    const ChildProcess::OutputSink collect = [&output](std::string_view bytes) {
        output.append(bytes);
        return true;
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(child->Wait(Deadline::In(Clock(), 200), collect), ChildProcess::Wake::Deadline);
    child->EndGroup(Clock(), 100, collect);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(child->ExitCode(), 128 + SIGKILL);
    const int sleeper = std::atoi(output.c_str());
    ASSERT_GT(sleeper, 0) << output;
    for (int i = 0; i < 50 && Alive(sleeper); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(Alive(sleeper)) << "the background sleep, which ignores SIGTERM too, lives on";
}

TEST(ChildProcessTest, NoDescriptorReachesTheChildOrStaysOpenInTheCaller) {
    // As a library that opens without close-on-exec would leave one.
    const int opened = ::open("/dev/null", O_RDONLY);
    const int stray = ::fcntl(opened, F_DUPFD, 57);
    ::close(opened);
    ASSERT_GE(stray, 57);
    const int before = OpenDescriptors();
    {
        int error = 0;
        auto child = ChildProcess::Start(Shell("for fd in 3 4 5 6 7 8 9 " + std::to_string(stray) +
                                               "; do [ -e /proc/self/fd/$fd ] && echo $fd; done; echo end"),
                                         error);
        ASSERT_TRUE(child);
        std::string output;
        const auto collect = [&output](std::string_view bytes) {
            output.append(bytes);
            return true;
        };
        EXPECT_EQ(child->Wait(Deadline::In(Clock(), 5000), collect), ChildProcess::Wake::Exited);
        child->DrainOutput(collect);
        EXPECT_EQ(output, "end\n") << "descriptors the child got besides its standard ones";

        ChildSetup reader = Shell("cat >/dev/null; sleep 30");
        reader.Input = ChildStream::Pipe;
        auto abandoned = ChildProcess::Start(reader, error);
        ASSERT_TRUE(abandoned);
        EXPECT_TRUE(abandoned->WriteInput("request", Deadline::In(Clock(), 5000)));
        ChildSetup missing = Shell("true");
        missing.Program = "/nonexistent/program";
        EXPECT_FALSE(ChildProcess::Start(missing, error));
        // abandoned goes out of scope still running: killed and reaped.
    }
    EXPECT_EQ(OpenDescriptors(), before);
    ::close(stray);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child left unreaped";
    EXPECT_EQ(errno, ECHILD);
}

TEST(ChildProcessTest, AProgramThatCannotBeExecutedIsReportedAsFailure) {
    test::TempDir dir;
    dir.Write("script", "#!/bin/sh\ntrue\n"); // not executable
    struct Case {
        std::string program;
        std::string workDir;
        int error;
    } cases[] = {{dir.File("missing"), "", ENOENT},
                 {dir.File("script"), "", EACCES},
                 {"/bin/true", dir.File("no-such-dir"), ENOENT}};
    for (const Case& c : cases) {
        ChildSetup setup;
        setup.Program = c.program;
        setup.WorkDir = c.workDir;
        int error = 0;
        EXPECT_FALSE(ChildProcess::Start(setup, error)) << c.program;
        EXPECT_EQ(error, c.error) << c.program;
        error = 0;
        EXPECT_EQ(StartDetached(setup, error), 0) << c.program;
        EXPECT_EQ(error, c.error) << c.program;
    }
}

TEST(ChildProcessTest, ADetachedProgramHasASessionOfItsOwnAndAnotherParent) {
    ChildSetup setup;
    setup.Program = "/bin/sleep";
    setup.Arguments = {"sleep", "30"};
    int error = 0;
    const pid_t pid = StartDetached(setup, error);
    ASSERT_GT(pid, 0) << error;
    // A session its first process made and left, so no terminal can ever become its own.
    EXPECT_NE(::getsid(pid), ::getsid(0));
    EXPECT_NE(::getsid(pid), pid);
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1) << "not the caller's child";
    ::kill(pid, SIGKILL);
}

} // namespace
} // namespace pelorix
