// The command after a publication: run by the cycle after each successful upload with the
// new and the previous address, its outcome and output reported, the publication standing
// whatever it does, and a stop ending it at once.

#include "SvcFakes.h"
#include "TempDir.h"
#include "TestSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace pelorix::test {
namespace {

using Lines = std::vector<std::string>;

// The kept lines of the command (outcome and output), without their time stamps.
Lines CommandLines(const std::string& log) {
    Lines lines;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos)
            end = log.size();
        const std::string line = log.substr(start, end - start);
        if (line.size() > 11 && (line.find("Befehl") != std::string::npos || line.substr(11, 2) == "+>"))
            lines.push_back(line.substr(11));
        start = end + 2;
    }
    return lines;
}

class StageCommandTest : public ::testing::Test {
protected:
    StageCommandTest() : service_(dir_.Path(), clock_, hosts_, &sleeper_) {
        service_.MsgLevel = 4;
        service_.Messages = false;
        service_.LogFile = true; // a check's lines are dropped unless they go to the file
        service_.Router = true;
        service_.IntervalTicks = 0; // a check at every tick
    }

    void SetUp() override {
        if (RunsOnWindows())
            GTEST_SKIP() << "the commands here are sh command lines";
    }

    // A worker whose address source reports 84.1.2.3 and, from tick `changeAt` on, 84.1.2.4.
    ScriptedWorker& MakeWorker(int changeAt = 1000) {
        worker_ = std::make_unique<ScriptedWorker>(service_, clock_, sleeper_, hosts_, &runner_);
        worker_->tick = [this] { return sleeper_.ticks; };
        worker_->query = [changeAt](int tick, std::string& ip) {
            ip = tick < changeAt ? "84.1.2.3" : "84.1.2.4";
            return true;
        };
        return *worker_;
    }

    Lines Log() const { return CommandLines(dir_.Exists("Pelorix.log") ? dir_.Read("Pelorix.log") : ""); }

    void RunTicks(int count) {
        sleeper_.onTick = [this, count](int done) {
            if (done >= count)
                worker_->Terminate();
        };
        worker_->Execute();
    }

    TempDir dir_;
    FixedClock clock_;
    NoHostAddresses hosts_;
    TickSleeper sleeper_;
    TShellCommandRunner runner_{SystemClock::Instance(), false};
    TPelorixService service_;
    std::unique_ptr<ScriptedWorker> worker_;
};

TEST_F(StageCommandTest, FailingCommandGetsBothAddressesAndThePublicationStands) {
    service_.OnPublish = "echo \"%IP% $PELORIX_OLD_IP %Time%\"; echo $PELORIX_IP >&2; exit 3";
    auto& w = MakeWorker(2);
    RunTicks(3);
    EXPECT_EQ(Log(), (Lines{"-Befehl gescheitert (Code 3)", "+> 84.1.2.3  22:05", "+> 84.1.2.3",
                            "-Befehl gescheitert (Code 3)", "+> 84.1.2.4 84.1.2.3 22:05", "+> 84.1.2.4"}));
    EXPECT_EQ(w.TicksOf("Upload"), (std::vector<int>{0, 2})) << "no retry after the failed command";
    EXPECT_EQ(w.PublishedIP, "84.1.2.4");
}

TEST_F(StageCommandTest, CommandThatNeverEndsIsEndedAtTheLimit) {
    service_.OnPublish = "sleep 30";
    auto& w = MakeWorker();
    w.CommandLimitMs = 200;
    RunTicks(2);
    EXPECT_EQ(Log(), Lines{"-Befehl abgebrochen (Zeitlimit)"});
    EXPECT_EQ(w.TicksOf("Upload"), std::vector<int>{0});
    EXPECT_EQ(w.PublishedIP, "84.1.2.3");
    EXPECT_EQ(w.CheckCountdown, 0);
}

TEST_F(StageCommandTest, StopEndsTheCommandWithinTheGrace) {
    service_.OnPublish = "touch started; sleep 30";
    auto& w = MakeWorker();
    w.Start();
    const auto start = std::chrono::steady_clock::now();
    while (!dir_.Exists("started") && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(dir_.Exists("started")) << "the command runs in the program directory";
    w.Terminate();
    EXPECT_TRUE(w.WaitFor(TPelorixService::kStopGraceMs));
    EXPECT_EQ(Log(), Lines{"-Befehl abgebrochen (Dienstende)"});
}

// Reports what a test sets and records what it was asked to run.
class FakeRunner final : public ICommandRunner {
public:
    CommandResult Run(const CommandRequest& request) override {
        requests.push_back(request);
        return result;
    }
    void Stop() override {}
    CommandResult result;
    std::vector<CommandRequest> requests;
};

TEST(StageCommandOutcomeTest, EachOutcomeHasItsLineAndLevel) {
    FixedClock clock;
    NoHostAddresses hosts;
    TickSleeper sleeper;
    TPelorixService service("/opt/pelorix/", clock, hosts, &sleeper);
    FakeRunner runner;
    TPeloThread worker(service, clock, sleeper, hosts, &runner);
    worker.MsgLevel = 2;
    worker.LogToFile = false;
    worker.MonitorEnabled = false;
    worker.PublishedIP = "84.1.2.3";

    worker.RunPublishCommand("");
    EXPECT_TRUE(runner.requests.empty()) << "no command set";

    service.OnPublish = "logger \"Pelorix: %IP% seit %Date%\"";
    runner.result = {CommandOutcome::Exited, 0, {"nur bei Niveau 4"}};
    worker.RunPublishCommand("84.1.2.2");
    ASSERT_EQ(runner.requests.size(), 1u);
    const CommandRequest& request = runner.requests[0];
    EXPECT_EQ(request.CommandLine, "logger \"Pelorix: 84.1.2.3 seit 07.12.26 (Monday)\"");
    EXPECT_EQ(request.WorkDir, "/opt/pelorix/");
    EXPECT_EQ(request.Environment, (std::vector<std::pair<std::string, std::string>>{
                                       {"PELORIX_IP", "84.1.2.3"}, {"PELORIX_OLD_IP", "84.1.2.2"}}));
    EXPECT_EQ(request.TimeLimitMs, 60000);
    EXPECT_EQ(CommandLines(worker.TakeLog()), Lines{}) << "success is level 3, its output level 4";

    worker.MsgLevel = 4;
    for (const CommandResult& result :
         {CommandResult{CommandOutcome::Exited, 0, {}},
          CommandResult{CommandOutcome::Exited, 127, {"sh: 1: logger: not found"}},
          CommandResult{CommandOutcome::NotStarted, 0, {}}}) {
        runner.result = result;
        worker.RunPublishCommand("");
    }
    EXPECT_EQ(CommandLines(worker.TakeLog()),
              (Lines{"+Befehl ausgeführt"_l1, "-Befehl nicht ausführbar"_l1, "+> sh: 1: logger: not found",
                     "-Befehl nicht ausführbar"_l1}));
}

} // namespace
} // namespace pelorix::test
