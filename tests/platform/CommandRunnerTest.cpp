// The shell command runner with real commands: what the command gets (environment, working
// directory, no stdin), the lines kept of its output, its exit code, and how it is ended at
// the time limit, process group included.

#include "TempDir.h"

#include "platform/CommandRunner.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;

CommandRequest Request(const std::string& line, int limitMs = 5000) {
    CommandRequest request;
    request.CommandLine = line;
    request.TimeLimitMs = limitMs;
    return request;
}

// Alive and not merely waiting to be reaped.
bool Alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string skip, state;
    return ::kill(pid, 0) == 0 && stat >> skip >> skip >> state && state != "Z";
}

TEST(CommandRunnerTest, CommandGetsItsEnvironmentDirectoryAndNoInputAndGivesItsCode) {
    test::TempDir dir;
    setenv("PELORIX_IP", "stale", 1);
    setenv("DB_SECRET_PASSWORD", "geheim", 1); // of whoever started the service: never the command's
    TShellCommandRunner runner(SystemClock::Instance(), false);
    CommandRequest request =
        Request("echo \"$PELORIX_IP/$PELORIX_OLD_IP/$HOME$DB_SECRET_PASSWORD\"; pwd; cat; "
                "printf 'a\\tb\\033[1m\\r\\n\\n\\n   \\n' >&2; exit 3");
    request.WorkDir = dir.Path();
    request.Environment = {{"PELORIX_IP", "84.1.2.3"}, {"PELORIX_OLD_IP", ""}};
    const CommandResult result = runner.Run(request);
    unsetenv("PELORIX_IP");
    unsetenv("DB_SECRET_PASSWORD");
    EXPECT_EQ(result.Outcome, CommandOutcome::Exited);
    EXPECT_EQ(result.ExitCode, 3);
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    const std::string cwd = dir.Path().substr(0, dir.Path().size() - 1);
    EXPECT_EQ(result.Output, (Lines{"84.1.2.3//" + home, cwd, "ab[1m", "   "}));
}

TEST(CommandRunnerTest, KeepsFiveLinesOfAtMost200Characters) {
    TShellCommandRunner runner(SystemClock::Instance(), false);
    // Far more output than a pipe holds: the command must not block on it.
    const CommandResult result =
        runner.Run(Request("printf '%0300d\\n' 1; for i in 2 3 4 5 6 7; do echo $i; done; "
                           "head -c 1000000 /dev/zero; printf 'no line end'"));
    EXPECT_EQ(result.Outcome, CommandOutcome::Exited);
    EXPECT_EQ(result.ExitCode, 0);
    EXPECT_EQ(result.Output, (Lines{std::string(200, '0'), "2", "3", "4", "5"}));

    TOutputLines tail;
    tail.Add("x\ny");
    EXPECT_EQ(tail.Finish(), (Lines{"x", "y"})) << "a last line without its end counts";
}

TEST(CommandRunnerTest, TimeLimitEndsTheWholeProcessGroup) {
    test::TempDir dir;
    TShellCommandRunner runner(SystemClock::Instance(), false);
    const auto start = std::chrono::steady_clock::now();
    const CommandResult result =
        runner.Run(Request("sleep 30 & echo $! > " + dir.File("pid") + "; echo started; wait", 300));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.Outcome, CommandOutcome::TimedOut);
    EXPECT_EQ(result.ExitCode, 128 + SIGTERM);
    EXPECT_EQ(result.Output, Lines{"started"});
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    int pid = 0;
    std::ifstream(dir.File("pid")) >> pid;
    ASSERT_GT(pid, 0);
    // The sleep was in the group.
    for (int i = 0; i < 50 && Alive(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(Alive(pid)) << "the background sleep lives on";
}

TEST(CommandRunnerTest, NothingStartsWithoutItsDirectoryOrAsRoot) {
    TShellCommandRunner runner(SystemClock::Instance(), false);
    CommandRequest request = Request("true");
    request.WorkDir = "/nonexistent/dir";
    EXPECT_EQ(runner.Run(request).Outcome, CommandOutcome::NotStarted);

    TShellCommandRunner guarded(SystemClock::Instance());
    const CommandResult result = guarded.Run(Request("true"));
    EXPECT_EQ(result.Outcome, ::geteuid() == 0 ? CommandOutcome::NotStarted : CommandOutcome::Exited);
}

} // namespace
} // namespace pelorix
