// The service module's handlers: the start checks and their messages, the log file records of
// start, pause, continue and stop, and how the module drives its worker.

#include "SvcFakes.h"
#include "TempDir.h"

#include "svc/StatusLog.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace pelorix::test {
namespace {

// The module with its settings given instead of read, and a scripted worker.
class TestService : public TPelorixService {
public:
    using TPelorixService::TPelorixService;
    ServiceSettings settings;
    ScriptedWorker* scripted = nullptr;

protected:
    ServiceSettings ReadSettings() override { return settings; }
    std::unique_ptr<TPeloThread> MakeWorker() override {
        auto worker = std::make_unique<ScriptedWorker>(*this, Clock, Sleeper(), HostSource);
        scripted = worker.get();
        return worker;
    }
};

ServiceSettings ValidSettings() {
    ServiceSettings s;
    s.FTPHost = "127.0.0.1";
    s.FTPUser = "pelorix";
    s.FTPPass = "geheim";
    s.LogFile = true;
    s.MsgLevel = 4;
    return s;
}

const std::string kHeader = "\r\n#07.12.26#";

std::string Rec(const std::string& text) {
    return "\r\n[22:05:09] " + text;
}

class PelorixServiceTest : public ::testing::Test {
protected:
    bool Start(TPelorixService& service) {
        bool started = false;
        service.ServiceStart(started);
        return started;
    }

    TempDir dir_;
    FixedClock clock_;
    NoHostAddresses hosts_;
    StepSleeper gate_;
};

TEST_F(PelorixServiceTest, DefaultLevelWithEmptyUserRecordsOnlyStartAndInsufficientParameters) {
    TestService service(dir_.Path(), clock_, hosts_, &gate_);
    service.settings = ValidSettings();
    service.settings.FTPUser.clear();
    service.settings.MsgLevel = 0;
    EXPECT_TRUE(Start(service));
    EXPECT_FALSE(service.ParamsValid);
    EXPECT_EQ(service.Worker(), nullptr);
    EXPECT_EQ(dir_.Read("Pelorix.log"),
              kHeader + Rec("+Service gestartet *") + Rec("-unzureichende(r) Parameter"));
}

TEST_F(PelorixServiceTest, EveryFailedCheckIsRecordedAtLevelOneInOrder) {
    TestService service(dir_.Path(), clock_, hosts_, &gate_);
    service.settings.Router = true;
    service.settings.IPSource = "abc";
    service.settings.FTPHost = "a";
    service.settings.LogFile = true;
    service.settings.MsgLevel = 1;
    EXPECT_TRUE(Start(service));
    EXPECT_EQ(dir_.Read("Pelorix.log"),
              kHeader + Rec("+Service gestartet *") + Rec("-keine HTTP-Seite eingetragen") +
                  Rec("-kein FTP-Host eingetragen") + Rec("-fehlender FTP-Benutzer") +
                  Rec("-fehlendes FTP-Passwort") + Rec("-unzureichende(r) Parameter"));
}

TEST_F(PelorixServiceTest, RouterModeSplitsTheAddressSourceAfterAHostOfTwoOrMoreCharacters) {
    struct Case {
        const char* source;
        bool valid;
        const char* host;
        const char* path;
    };
    for (const Case& c : {Case{"ab/x", true, "ab", "/x"}, Case{"a/x", false, "", "a/x"},
                          Case{"abc", false, "", "abc"}, Case{"/x", false, "", "/x"},
                          Case{"ip.example/cgi-bin/test-cgi", true, "ip.example", "/cgi-bin/test-cgi"}}) {
        SCOPED_TRACE(c.source);
        TPelorixService service(dir_.Path(), clock_, hosts_, &gate_);
        ServiceSettings s = ValidSettings();
        s.Router = true;
        s.IPSource = c.source;
        service.ApplySettings(s);
        service.ServiceLogBuffer.clear();
        EXPECT_EQ(service.CheckParams(), c.valid);
        EXPECT_EQ(service.SourceHost, c.host);
        EXPECT_EQ(service.SourcePath, c.path);
        EXPECT_EQ(service.ServiceLogBuffer.find("-keine HTTP-Seite eingetragen") != std::string::npos,
                  !c.valid);
    }
}

TEST_F(PelorixServiceTest, WithoutRouterModeTheAddressSourceIsNeitherCheckedNorSplit) {
    TPelorixService service(dir_.Path(), clock_, hosts_, &gate_);
    ServiceSettings s = ValidSettings();
    s.IPSource = "abc";
    service.ApplySettings(s);
    EXPECT_TRUE(service.CheckParams());
    EXPECT_EQ(service.SourcePath, "abc");
    EXPECT_EQ(service.SourceHost, "");
}

TEST_F(PelorixServiceTest, FtpHostNeedsTwoCharacters) {
    for (const char* host : {"", "a", "ab"}) {
        SCOPED_TRACE(host);
        TPelorixService service(dir_.Path(), clock_, hosts_, &gate_);
        ServiceSettings s = ValidSettings();
        s.FTPHost = host;
        service.ApplySettings(s);
        EXPECT_EQ(service.CheckParams(), std::string(host) == "ab");
    }
}

TEST_F(PelorixServiceTest, SettingsAreTakenAsReadWithIntervalTicksOneLess) {
    TPelorixService service(dir_.Path(), clock_, hosts_, &gate_);
    ServiceSettings s = ValidSettings();
    s.Intervall = 12;
    s.Mail.Text = "a\r\nb";
    s.eMail = true;
    s.AddPage[7] = "/tmp/x.htm";
    service.ApplySettings(s);
    EXPECT_EQ(service.IntervalTicks, 11);
    EXPECT_EQ(service.MailData.Text, "a\r\nb");
    EXPECT_TRUE(service.eMail);
    EXPECT_EQ(service.AddPage[7], "/tmp/x.htm");
    s.Intervall = INT_MIN;
    service.ApplySettings(s);
    EXPECT_EQ(service.IntervalTicks, INT_MIN);
}

TEST_F(PelorixServiceTest, PauseAndContinueOnAnIdleServiceRecordNothingAndSucceed) {
    TestService service(dir_.Path(), clock_, hosts_, &gate_);
    service.settings = ValidSettings();
    service.settings.FTPPass.clear();
    ASSERT_TRUE(Start(service));
    const std::string before = dir_.Read("Pelorix.log");
    EXPECT_TRUE(service.Pause());
    EXPECT_TRUE(service.Continue());
    EXPECT_EQ(dir_.Read("Pelorix.log"), before);
    EXPECT_TRUE(service.Stop());
    EXPECT_EQ(dir_.Read("Pelorix.log"), before + Rec("-Service beendet *"));
}

TEST_F(PelorixServiceTest, StopWhilePausedEndsTheHeldWorkerAndWritesItsLinesFirst) {
    TestService service(dir_.Path(), clock_, hosts_, &gate_);
    service.settings = ValidSettings();
    ASSERT_TRUE(Start(service));
    ASSERT_NE(service.scripted, nullptr);
    ASSERT_TRUE(gate_.WaitEntered(1)); // the worker has recorded its first line

    EXPECT_TRUE(service.Pause());
    EXPECT_TRUE(service.scripted->Held());
    EXPECT_TRUE(service.Stop());
    EXPECT_TRUE(service.scripted->Terminated());
    gate_.Open();
    EXPECT_TRUE(service.WaitForWorkerEnd(5000));
    EXPECT_TRUE(service.scripted->calls.empty());

    EXPECT_EQ(dir_.Read("Pelorix.log"), kHeader + Rec("+Service gestartet *") +
                                            Rec("+ServiceThread erzeugt") + Rec("-Service angehalten *") +
                                            Rec("+ServiceThread übernimmt"_l1) +
                                            Rec("-Thread-Ende angefordert") + Rec("-Service beendet *"));
    // Only the worker's lines reach the monitor.
    EXPECT_EQ(service.scripted->monitor, (std::vector<std::string>{"[22:05:09] +ServiceThread übernimmt"_l1,
                                                                   "[22:05:09] -Thread-Ende angefordert"}));
}

TEST_F(PelorixServiceTest, PauseHoldsAndContinueReleasesTheWorker) {
    TestService service(dir_.Path(), clock_, hosts_, &gate_);
    service.settings = ValidSettings();
    service.settings.MsgLevel = 0;
    ASSERT_TRUE(Start(service));
    EXPECT_TRUE(service.Pause());
    EXPECT_TRUE(service.scripted->Held());
    EXPECT_TRUE(service.Continue());
    EXPECT_FALSE(service.scripted->Held());
    EXPECT_EQ(dir_.Read("Pelorix.log"), kHeader + Rec("+Service gestartet *") + Rec("-Service angehalten *") +
                                            Rec("+Service fortgesetzt *"));
    EXPECT_TRUE(service.Stop());
    gate_.Open();
    EXPECT_TRUE(service.WaitForWorkerEnd(5000));
}

TEST_F(PelorixServiceTest, StopWakesTheModulesOwnSleeperSoTheWorkerEndsAtOnce) {
    TestService service(dir_.Path(), clock_, hosts_);
    service.settings = ValidSettings();
    ASSERT_TRUE(Start(service));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(service.Stop());
    EXPECT_TRUE(service.WaitForWorkerEnd(4000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(PelorixServiceTest, LogFileOffLeavesTheDirectoryUntouched) {
    TestService service(dir_.Path(), clock_, hosts_);
    service.settings = ValidSettings();
    service.settings.LogFile = false;
    ASSERT_TRUE(Start(service));
    EXPECT_TRUE(service.Pause());
    EXPECT_TRUE(service.Continue());
    EXPECT_TRUE(service.Stop());
    EXPECT_TRUE(service.WaitForWorkerEnd(4000));
    EXPECT_FALSE(dir_.Exists("Pelorix.log"));
}

TEST_F(PelorixServiceTest, LinesOfAFailedFlushAreWrittenAtTheNextOneInOrder) {
    TestService service(dir_.Path(), clock_, hosts_, &gate_);
    service.settings = ValidSettings();
    ASSERT_TRUE(std::filesystem::create_directory(dir_.File("Pelorix.log")));
    ASSERT_TRUE(Start(service));
    ASSERT_TRUE(gate_.WaitEntered(1));
    ASSERT_TRUE(std::filesystem::remove(dir_.File("Pelorix.log")));
    EXPECT_TRUE(service.Stop());
    gate_.Open();
    EXPECT_EQ(dir_.Read("Pelorix.log"), kHeader + Rec("+Service gestartet *") +
                                            Rec("+ServiceThread erzeugt") +
                                            Rec("+ServiceThread übernimmt"_l1) +
                                            Rec("-Thread-Ende angefordert") + Rec("-Service beendet *"));
}

// The start's records stay above the worker's even when the log could first not be written.
TEST_F(PelorixServiceTest, WorkerLinesNeverLandAboveTheRecordsOfAFailedStartFlush) {
    TestService service(dir_.Path(), clock_, hosts_, &gate_);
    service.settings = ValidSettings();
    ASSERT_TRUE(std::filesystem::create_directory(dir_.File("Pelorix.log")));
    ASSERT_TRUE(Start(service));
    ASSERT_TRUE(gate_.WaitEntered(1));
    ASSERT_TRUE(std::filesystem::remove(dir_.File("Pelorix.log")));
    gate_.Allow(1); // the worker's first check tick flushes
    ASSERT_TRUE(gate_.WaitEntered(2));
    EXPECT_EQ(dir_.Read("Pelorix.log"), kHeader + Rec("+Service gestartet *") +
                                            Rec("+ServiceThread erzeugt") +
                                            Rec("+ServiceThread übernimmt"_l1));
    EXPECT_TRUE(service.Stop());
    gate_.Open();
}

TEST(StatusLogTest, TimeStampAndDateHeaderHaveTheirFixedForms) {
    LocalTime t{2005, 3, 4, 7, 8, 9, 5, 60};
    EXPECT_EQ(TimeStamp(t), "[07:08:09] ");
    EXPECT_EQ(TimeStamp(t).size(), 11u);
    EXPECT_EQ(DateHeader(t), "\r\n#04.03.05#");
    t.year = 2100;
    t.hour = 23;
    EXPECT_EQ(DateHeader(t), "\r\n#04.03.00#");
    EXPECT_EQ(TimeStamp(t), "[23:08:09] ");
}

TEST(StatusLogTest, PendingRecordsAreBoundedAndTheOldestWholeRecordsGoFirst) {
    std::string buffer;
    const std::string line(99, 'x');
    for (int i = 0; i < 5000; ++i)
        AppendRecord(buffer, std::to_string(i % 10) + line);
    EXPECT_LE(buffer.size(), kMaxPendingLog);
    EXPECT_GT(buffer.size(), kMaxPendingLog - 200);
    EXPECT_EQ(buffer.substr(0, 2), "\r\n");
    EXPECT_EQ(buffer.substr(buffer.size() - 100), "9" + line);
    EXPECT_EQ(buffer.size() % 102, 0u) << "only whole records";
}

TEST(StatusLogTest, AppendCreatesTheFileAndAddsExactlyTheText) {
    TempDir dir;
    EXPECT_TRUE(AppendToLogFile(dir.Path(), "\r\n#07.12.26#"));
    EXPECT_TRUE(AppendToLogFile(dir.Path(), "\r\n[22:05:09] +Service fortgesetzt *"));
    EXPECT_EQ(dir.Read("Pelorix.log"), "\r\n#07.12.26#\r\n[22:05:09] +Service fortgesetzt *");
    EXPECT_FALSE(AppendToLogFile(dir.Path() + "missing/", "x"));
}

} // namespace
} // namespace pelorix::test
