// The publishing cycle: its schedule of checks, retries and uploads, run for hundreds of
// ticks through a sleeper that never sleeps, and the worker's status reporting.

#include "SvcFakes.h"
#include "TempDir.h"

#include "svc/StatusLog.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>

namespace pelorix::test {
namespace {

std::vector<int> Range(int from, int to) {
    std::vector<int> out(static_cast<std::size_t>(to - from + 1));
    std::iota(out.begin(), out.end(), from);
    return out;
}

std::vector<int> Every(int from, int step, int below) {
    std::vector<int> out;
    for (int t = from; t < below; t += step)
        out.push_back(t);
    return out;
}

std::vector<int> Join(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PeloThreadTest : public ::testing::Test {
protected:
    PeloThreadTest() : service_(dir_.Path(), clock_, hosts_, &sleeper_) {
        service_.MsgLevel = 4;
        service_.Messages = false;
        service_.LogFile = false;
    }

    // Builds the worker from the module's settings as they stand now.
    ScriptedWorker& MakeWorker() {
        worker_ = std::make_unique<ScriptedWorker>(service_, clock_, sleeper_, hosts_);
        worker_->tick = [this] { return sleeper_.ticks; };
        return *worker_;
    }

    // Runs the cycle on the test's thread until the given number of ticks has passed.
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
    TPelorixService service_;
    std::unique_ptr<ScriptedWorker> worker_;
};

TEST_F(PeloThreadTest, StartsWithItsLineThenTheStartDelayAndTicksOfTheirOwnLength) {
    service_.Router = true;
    service_.LogFile = true;
    auto& w = MakeWorker();
    RunTicks(3);
    ASSERT_GE(sleeper_.sleeps.size(), 2u);
    EXPECT_EQ(sleeper_.sleeps[0], 5000);
    EXPECT_EQ(sleeper_.sleeps[1], 9975);
    EXPECT_EQ(sleeper_.sleeps.size(), 4u);
    EXPECT_EQ(dir_.Read("Pelorix.log"), "\r\n[22:05:09] +ServiceThread übernimmt"_l1);
    EXPECT_EQ(w.CurrentIP, "###");
    EXPECT_EQ(w.PublishedIP, "#");
}

TEST_F(PeloThreadTest, FailingAddressSourceGivesEighteenQuickRetriesThenOneCheckEveryEighteenTicks) {
    service_.Router = true;
    auto& w = MakeWorker();
    RunTicks(100);
    EXPECT_EQ(w.TicksOf("Query"), Join(Range(0, 17), Every(35, 18, 100)));
    EXPECT_TRUE(w.TicksOf("Generate").empty());
    EXPECT_EQ(w.PublishedIP, "#");
}

TEST_F(PeloThreadTest, AfterAPublishTheNextCheckComesEveryIntervallTicks) {
    service_.Router = true;
    service_.IntervalTicks = 11; // Intervall 12
    auto& w = MakeWorker();
    w.query = [](int, std::string& ip) {
        ip = "84.1.2.3";
        return true;
    };
    RunTicks(60);
    EXPECT_EQ(w.TicksOf("Query"), Every(0, 12, 60));
    EXPECT_EQ(w.TicksOf("Generate"), std::vector<int>{0});
    EXPECT_EQ(w.TicksOf("Upload"), std::vector<int>{0});
    EXPECT_EQ(w.PublishedIP, "84.1.2.3");
    EXPECT_EQ(w.RetriesLeft, 0);
}

TEST_F(PeloThreadTest, IntervallOfOneOrLessChecksAtEveryTick) {
    for (int ticks : {0, -1, -7}) {
        SCOPED_TRACE(ticks);
        sleeper_ = TickSleeper();
        service_.Router = true;
        service_.IntervalTicks = ticks;
        auto& w = MakeWorker();
        w.query = [](int, std::string& ip) {
            ip = "84.1.2.3";
            return true;
        };
        RunTicks(30);
        EXPECT_EQ(w.TicksOf("Query"), Range(0, 29));
        EXPECT_EQ(w.TicksOf("Upload"), std::vector<int>{0});
    }
}

TEST_F(PeloThreadTest, UnchangedAddressInRouterModeRecordsOneLinePerCheckAtLevelThree) {
    service_.Router = true;
    service_.IntervalTicks = 2;
    service_.MsgLevel = 3;
    service_.LogFile = true;
    auto& w = MakeWorker();
    w.query = [](int, std::string& ip) {
        ip = "84.1.2.3";
        return true;
    };
    RunTicks(9);
    const std::string log = dir_.Read("Pelorix.log");
    std::size_t count = 0;
    for (std::size_t p = log.find("+IP-Adresse(n) unverändert"_l1); p != std::string::npos;
         p = log.find("+IP-Adresse(n) unverändert"_l1, p + 1))
        ++count;
    EXPECT_EQ(count, 2u); // checks at 3 and 6; the one at 0 published
    EXPECT_EQ(log.find("+ServiceThread"), std::string::npos) << "level 4 is filtered";
}

TEST_F(PeloThreadTest, FailedGenerationTriesAgainAtTheNextTickEvenAfterTheQuickRetries) {
    service_.Router = true;
    auto& w = MakeWorker();
    w.query = [](int, std::string& ip) {
        ip = "84.1.2.3";
        return true;
    };
    w.generate = [](int tick) { return tick >= 25; };
    RunTicks(40);
    EXPECT_EQ(w.TicksOf("Generate"), Range(0, 25));
    EXPECT_EQ(w.TicksOf("Upload"), std::vector<int>{25});
    EXPECT_EQ(w.PublishedIP, "84.1.2.3");
}

TEST_F(PeloThreadTest, FailedUploadIsRetriedWithTheGeneratedPageAndThenEveryEighteenTicks) {
    service_.Router = true;
    service_.IntervalTicks = 5;
    auto& w = MakeWorker();
    w.query = [](int, std::string& ip) {
        ip = "84.1.2.3";
        return true;
    };
    w.upload = [](int tick) { return tick >= 70; };
    RunTicks(80);
    EXPECT_EQ(w.TicksOf("Generate"), std::vector<int>{0});
    EXPECT_EQ(w.TicksOf("Upload"), Join(Range(0, 17), {35, 53, 71}));
    EXPECT_EQ(w.PublishedIP, "84.1.2.3");
    EXPECT_EQ(w.TicksOf("Query"), Join(Join(Range(0, 17), {35, 53, 71}), {77}));
}

TEST_F(PeloThreadTest, UploadFailingOnceAfterTheQuickRetriesComesBackEighteenTicksLater) {
    service_.Router = true;
    service_.IntervalTicks = 2;
    auto& w = MakeWorker();
    std::string address = "84.1.2.3";
    w.query = [&address](int, std::string& ip) {
        ip = address;
        return true;
    };
    w.upload = [](int tick) { return tick != 9; };
    sleeper_.onTick = [&](int done) {
        if (done == 8)
            address = "84.1.2.4";
        if (done >= 40)
            w.Terminate();
    };
    w.Execute();
    // Published at 0; checks at 3 and 6; new address at 9 with a failed upload: the slow wait.
    EXPECT_EQ(w.TicksOf("Upload"), (std::vector<int>{0, 9, 27}));
    EXPECT_EQ(w.TicksOf("Generate"), (std::vector<int>{0, 9}));
    EXPECT_EQ(w.PublishedIP, "84.1.2.4");
}

TEST_F(PeloThreadTest, PageIsMadeAgainWhenTheAddressChangedBeforeTheUpload) {
    service_.Router = true;
    auto& w = MakeWorker();
    w.query = [](int tick, std::string& ip) {
        ip = tick == 0 ? "84.1.2.3" : "84.1.2.4";
        return true;
    };
    w.upload = [](int tick) { return tick >= 1; };
    RunTicks(3);
    EXPECT_EQ(w.generatedFor, (std::vector<std::string>{"84.1.2.3", "84.1.2.4"}));
    EXPECT_EQ(w.PublishedIP, "84.1.2.4");
}

TEST_F(PeloThreadTest, DirectModeProbesOnlyWhenHostAddressesChangedOrRetriesAreLeft) {
    service_.IntervalTicks = 0;
    auto& w = MakeWorker();
    w.hosts = [](int tick) { return tick == 0 || tick == 5; };
    w.probe = [](int tick, std::string& ip) {
        ip = tick == 0 ? "84.1.2.3" : "84.9.9.9";
        return true;
    };
    RunTicks(10);
    EXPECT_EQ(w.TicksOf("Hosts"), Range(0, 9));
    EXPECT_EQ(w.TicksOf("Probe"), (std::vector<int>{0, 5}));
    EXPECT_EQ(w.TicksOf("Upload"), (std::vector<int>{0, 5}));
    EXPECT_EQ(w.PublishedIP, "84.9.9.9");
}

TEST_F(PeloThreadTest, DirectModeQuickRetriesForceTheProbeWithoutNewHostAddresses) {
    auto& w = MakeWorker();
    w.hosts = [](int tick) { return tick == 0; };
    RunTicks(40);
    EXPECT_EQ(w.TicksOf("Probe"), Join(Range(0, 17), {35}));
    EXPECT_EQ(w.CurrentIP, "0");
}

TEST_F(PeloThreadTest, DirectModeFailedProbeWithThePublishedAddressCountsAsUnchanged) {
    service_.IntervalTicks = 1;
    auto& w = MakeWorker();
    w.hosts = [](int tick) { return tick == 0 || tick == 4; };
    w.probe = [](int tick, std::string& ip) {
        ip = "84.1.2.3";
        return tick == 0;
    };
    RunTicks(11);
    EXPECT_EQ(w.TicksOf("Hosts"), Every(0, 2, 11));
    EXPECT_EQ(w.TicksOf("Probe"), (std::vector<int>{0, 4}));
    EXPECT_EQ(w.TicksOf("Upload"), std::vector<int>{0});
    EXPECT_EQ(w.CheckCountdown, 1);
}

TEST_F(PeloThreadTest, StopDuringASleepIsSeenWhenTheSleepEnds) {
    service_.Router = true;
    auto& w = MakeWorker();
    sleeper_.onStartDelay = [&] { w.Terminate(); };
    w.Execute();
    EXPECT_TRUE(w.calls.empty());
    EXPECT_EQ(sleeper_.sleeps, std::vector<int>{5000});

    sleeper_ = TickSleeper();
    auto& w2 = MakeWorker();
    RunTicks(4);
    EXPECT_EQ(w2.TicksOf("Query"), Range(0, 3));
    EXPECT_EQ(sleeper_.ticks, 4);
}

TEST_F(PeloThreadTest, EscapingStageErrorCountsAsFailure) {
    service_.Router = true;
    auto& w = MakeWorker();
    w.query = [](int tick, std::string& ip) -> bool {
        if (tick < 2)
            throw std::runtime_error("boom");
        ip = "84.1.2.3";
        return true;
    };
    RunTicks(4);
    EXPECT_EQ(w.TicksOf("Upload"), std::vector<int>{2});
}

TEST_F(PeloThreadTest, CheckTickWritesItsLinesToTheLogFileAndSendsKeptLinesToTheMonitor) {
    service_.Router = true;
    service_.LogFile = true;
    service_.Messages = true;
    service_.MsgLevel = 0;
    auto& w = MakeWorker();
    w.query = [&w](int, std::string& ip) {
        ip = "###";
        w.LogStatus(0, "-HTTP-Fehler: Server nicht erreicht");
        w.LogStatus(4, "+Adressquelle wird kontaktiert");
        return false;
    };
    RunTicks(1);
    EXPECT_EQ(dir_.Read("Pelorix.log"), "\r\n[22:05:09] -HTTP-Fehler: Server nicht erreicht");
    EXPECT_EQ(w.monitor, std::vector<std::string>{"[22:05:09] -HTTP-Fehler: Server nicht erreicht"});
    EXPECT_EQ(w.TakeLog(), "");
}

TEST_F(PeloThreadTest, LogFileOffNeitherCreatesTheFileNorKeepsFlushedLines) {
    service_.Router = true;
    auto& w = MakeWorker();
    RunTicks(2);
    EXPECT_FALSE(dir_.Exists("Pelorix.log"));
    EXPECT_EQ(w.TakeLog(), "");
}

TEST_F(PeloThreadTest, LinesRecordedAfterTheStopReachTheFileWhenTheThreadEnds) {
    service_.LogFile = true;
    auto& w = MakeWorker();
    w.Terminate(); // a stop that comes before the worker's first line
    w.Start();
    ASSERT_TRUE(w.WaitFor(5000));
    EXPECT_EQ(dir_.Read("Pelorix.log"), "\r\n[22:05:09] +ServiceThread übernimmt"_l1);
    EXPECT_TRUE(w.calls.empty());
}

TEST_F(PeloThreadTest, NegativeMsgLevelKeepsNothing) {
    service_.MsgLevel = -1;
    service_.Messages = true;
    auto& w = MakeWorker();
    w.LogStatus(0, "-FTP-Upload gescheitert");
    EXPECT_EQ(w.TakeLog(), "");
    EXPECT_TRUE(w.monitor.empty());
}

TEST_F(PeloThreadTest, UnwritableLogFileKeepsTheLinesForTheNextFlush) {
    service_.LogFile = true;
    auto& w = MakeWorker();
    // A directory in the file's place makes every open fail, whoever runs the test.
    ASSERT_TRUE(std::filesystem::create_directory(dir_.File("Pelorix.log")));
    w.LogStatus(0, "-FTP-Upload gescheitert");
    w.FlushLog();
    ASSERT_TRUE(std::filesystem::remove(dir_.File("Pelorix.log")));
    w.LogStatus(0, "+FTP-Upload OK mit 84.1.2.3 als /myserver.htm");
    w.FlushLog();
    EXPECT_EQ(dir_.Read("Pelorix.log"), "\r\n[22:05:09] -FTP-Upload gescheitert"
                                        "\r\n[22:05:09] +FTP-Upload OK mit 84.1.2.3 als /myserver.htm");
}

TEST_F(PeloThreadTest, PauseHoldsTheWorkerAndItsCountdownExactly) {
    StepSleeper steps;
    service_.Router = true;
    service_.IntervalTicks = 3;
    ScriptedWorker w(service_, clock_, steps, hosts_);
    std::atomic<int> queries{0};
    w.query = [&](int, std::string& ip) {
        ++queries;
        ip = "84.1.2.3";
        return true;
    };
    w.Start();
    steps.Allow(1); // the start delay; tick 0 publishes, countdown 3
    ASSERT_TRUE(steps.WaitEntered(2));
    EXPECT_EQ(queries, 1);
    steps.Allow(1); // tick 1: idle, countdown 2
    ASSERT_TRUE(steps.WaitEntered(3));

    w.Hold();
    steps.Allow(1); // the sleep ends; the worker holds before tick 2
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(steps.Entered(), 3) << "no tick while held";

    w.Release();
    ASSERT_TRUE(steps.WaitEntered(4)); // tick 2: idle
    steps.Allow(1);
    ASSERT_TRUE(steps.WaitEntered(5)); // tick 3: idle
    EXPECT_EQ(queries, 1);
    steps.Allow(1);
    ASSERT_TRUE(steps.WaitEntered(6)); // tick 4: the next check, as without the pause
    EXPECT_EQ(queries, 2);

    w.Terminate();
    steps.Open();
    EXPECT_TRUE(w.WaitFor(5000));
}

TEST_F(PeloThreadTest, TerminateEndsAHeldWorker) {
    StepSleeper steps;
    service_.Router = true;
    ScriptedWorker w(service_, clock_, steps, hosts_);
    w.Hold();
    w.Start();
    steps.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(w.calls.empty());
    w.Terminate();
    EXPECT_TRUE(w.WaitFor(5000));
    EXPECT_TRUE(w.calls.empty());
}

TEST(WakeableSleeperTest, WakeEndsASleepAtOnceAndEveryLaterOne) {
    TWakeableSleeper sleeper;
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sleeper.Wake();
    });
    const auto start = std::chrono::steady_clock::now();
    sleeper.SleepMs(60000);
    sleeper.SleepMs(60000);
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    sleeper.Reset();
    const auto again = std::chrono::steady_clock::now();
    sleeper.SleepMs(30);
    EXPECT_GE(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(25));
}

} // namespace
} // namespace pelorix::test
