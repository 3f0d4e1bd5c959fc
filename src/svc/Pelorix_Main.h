#pragma once
// The service module TPelorixService and its worker thread TPeloThread.
//
// TPelorixService is the one service module of PelorixSvc: the service framework's control
// thread calls its four handlers, one at a time. ServiceStart reads Pelorix.ini into the
// module's settings, checks them and creates the worker; afterwards the settings are
// read-only and the worker's stages read them from the module directly.
//
// TPeloThread runs the publishing cycle on its own thread: a check every few ticks, the
// address stages, page generation, upload and mail. The stages are virtual members, each
// group defined in its own file (StageAddress.cpp, StagePages.cpp, StageUpload.cpp,
// StageMail.cpp), so tests can replace them with fakes. Time, sleeping and the host's own
// addresses come in through the constructor.

#include "common/Config.h"
#include "platform/Clock.h"
#include "platform/CommandRunner.h"
#include "platform/HostAddresses.h"
#include "platform/InstanceLock.h"
#include "scm/ServiceApp.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pelorix {

class TPelorixService;

// Sleeps on a condition variable, so a stop request ends a sleep at once instead of after
// up to ten seconds. Once woken it stays awake: every later sleep returns at once.
// Shared by the control thread (Wake) and the worker (SleepMs).
class TWakeableSleeper final : public ISleeper {
public:
    void SleepMs(int ms) override;
    void Wake();
    void Reset();

private:
    std::mutex mutex_;
    std::condition_variable wakeUp_;
    bool woken_ = false;
};

// The worker thread. Created by TPelorixService::ServiceStart (or by a test, which may call
// Execute or a single stage directly without starting the thread). Only the worker thread
// writes the fields below; the control thread uses LogStatus, TakeLog, Terminate, Hold and
// Release, which are safe to call from any thread.
class TPeloThread {
public:
    static constexpr int kStartDelayMs = 5000; // between the first status line and the first tick
    static constexpr int kTickSleepMs = 9975;  // at the end of every tick
    static constexpr int kQuickRetries = 18;   // initial RetriesLeft
    static constexpr int kSlowRetryWait = 17;  // idle ticks after a failure once quick retries are used up

    static constexpr int kCommandLimitMs = 60000; // for the command run after a publication

    // Copies the service's values (ProgramDir, IntervalTicks, MsgLevel, Router, Messages,
    // LogFile); the thread does not run until Start. commands null: the worker runs the
    // command after a publication with a shell runner of its own.
    TPeloThread(const TPelorixService& service, IClock& clock, ISleeper& sleeper,
                IHostAddressSource& hostAddresses, ICommandRunner* commands = nullptr);
    // Asks the thread to end and waits for it; the sleeper must let it end (see TPelorixService).
    virtual ~TPeloThread();
    TPeloThread(const TPeloThread&) = delete;
    TPeloThread& operator=(const TPeloThread&) = delete;

    // Runs Execute on a new thread.
    void Start();
    // The termination request, seen at the top of the loop; also ends a hold.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Pause: the worker holds still before its next tick until Release (or Terminate).
    void Hold();
    void Release();
    bool Held() const;
    // Waits at most timeoutMs for Execute to return; true when it has (or never started).
    bool WaitFor(int timeoutMs);

    // The whole publishing cycle; returns when the termination request is seen.
    virtual void Execute();

    // Status reporting. LogStatus keeps the line when level <= MsgLevel: time stamp, text,
    // into the pending log and, when MonitorEnabled, to the manager's monitor.
    void LogStatus(int level, const std::string& text);
    // Appends the pending log to ProgramDir + Pelorix.log when LogToFile is set.
    void FlushLog();
    // Hands over the pending log and empties it.
    std::string TakeLog();
    // Sends one kept line (time stamp and text, without line end) to the monitor.
    virtual void SendToMonitor(const std::string& line);

    // The stages, called only from the worker's own loop (or a test). Each records its own
    // status lines and catches whatever its work raises.
    virtual bool CheckHostAddresses(); // StageAddress.cpp
    virtual bool ProbeFTPAddress();    // StageAddress.cpp
    virtual bool QueryAddressSource(); // StageAddress.cpp
    // StageAddress.cpp, with IPv6 on: the IPv6 address into CurrentIP6 ("" when there is none),
    // from IPSource6's page in router mode, else from the interface; true when one was found.
    virtual bool DetermineIPv6();
    virtual bool GeneratePages(); // StagePages.cpp
    virtual bool UploadPage();    // StageUpload.cpp; calls NotifyByMail(true) after success when eMail is set
    virtual bool NotifyByMail(bool online); // StageMail.cpp
    // StageCommand.cpp: OnPublish after a successful publication; its outcome changes nothing.
    virtual void RunPublishCommand(const std::string& previousIP, const std::string& previousIP6 = {});

    // The module whose settings the stages read.
    const TPelorixService& Service;
    IClock& Clock;
    ISleeper& Sleeper;
    IHostAddressSource& HostSource;

    // The worker's own state; written by the worker thread only.
    std::vector<std::string> HostAddresses;         // local host addresses of the current check
    std::vector<std::string> PreviousHostAddresses; // those of the previous check
    std::string CurrentIP =
        "0"; // address of the latest determination ("###": router query under way or failed)
    std::string PublishedIP = "#"; // address of the last successful upload
    // IPv6, only with IPv6 on: the address found by the latest check ("" none) and the one last
    // published; the host's IPv6 addresses as the latest check listed them.
    std::string CurrentIP6 = "0";
    std::string PublishedIP6 = "#";
    InterfaceAddresses6 HostAddresses6;
    std::string ReportedIPv4;    // the last IPv4 address checked for being public
    std::string ProgramDir;      // directory of the log file
    int RetriesLeft = 0;         // quick-retry counter
    int CheckCountdown = 0;      // idle ticks left before the next check
    int IntervalTicks = 0;       // idle ticks after a check that published or found nothing new
    int MsgLevel = 0;            // highest level kept
    bool RouterMode = false;     // address from the address-source page
    bool AddressFound = false;   // result of the latest determination
    bool PageReady = false;      // page generated and not yet uploaded
    bool MonitorEnabled = false; // send kept lines to the monitor
    bool LogToFile = false;      // write Pelorix.log
    std::string PageIP;          // the address the generated page shows
    std::string PageIP6;         // and its IPv6 address
    bool DirectUpload = false;   // the server refused to rename: store under the final name
    int CommandLimitMs = kCommandLimitMs;

protected:
    // An address-source page and what its query reports.
    struct SourcePage {
        const std::string& host;
        const std::string& path;
        bool secure;
        std::string (*scan)(std::string_view answer);
        const std::string& determinedLine;
        std::string noAddressLine;
    };
    // Fetches the page and scans it; the address found goes to address.
    bool QueryPage(const SourcePage& page, std::string& address);

    // One tick of the loop: an idle tick or a check tick.
    void RunTick();
    void RunCheck();
    bool DetermineAddress();
    bool DetermineIPv4();
    // The level-0 line once per IPv4 address that no visitor can reach.
    void ReportNonPublicIPv4();
    bool AddressChanged() const;
    void Publish();
    void ScheduleSlowRetry();
    // Blocks while held; false when the termination request came.
    bool WaitWhileHeld();

private:
    void ThreadMain();

    mutable std::mutex logMutex_; // LogBuffer: appended by both threads, taken by the control thread
    std::string LogBuffer;

    std::unique_ptr<ICommandRunner> ownCommands_; // when none was given
    ICommandRunner* commands_;                    // stopped by Terminate

    std::atomic<bool> terminated_{false};
    mutable std::mutex holdMutex_;
    std::condition_variable holdChanged_;
    bool held_ = false;

    std::mutex endMutex_;
    std::condition_variable ended_;
    bool running_ = false;
    std::thread thread_;
};

// The service module. Owned by the program entry; its handlers run on the framework's
// control thread. The settings are public for the worker's stages to read; only
// ServiceStart (or a test, before any worker exists) writes them.
class TPelorixService : public IServiceHandlers {
public:
    static constexpr const char* kTitle = "PelorixSvc";
    static constexpr const char* kServiceName = "PelorixService";
    static constexpr const char* kDisplayName = "Pelorix-Publisher";
    // After the stop handler, how long the process waits for a stage under way (a network
    // time-out, say) before it ends anyway.
    static constexpr int kStopGraceMs = 3000;

    // sleeper null: the module uses its own sleeper, which a stop wakes at once.
    TPelorixService(std::string programDir, IClock& clock, IHostAddressSource& hostAddresses,
                    ISleeper* sleeper = nullptr);
    ~TPelorixService() override;
    TPelorixService(const TPelorixService&) = delete;
    TPelorixService& operator=(const TPelorixService&) = delete;

    // The four handlers.
    void ServiceStart(bool& Started);
    void ServiceStop(bool& Stopped);
    void ServicePause(bool& Paused);
    void ServiceContinue(bool& Continued);

    // IServiceHandlers: the framework's view of the same handlers. Start first takes the
    // program directory's instance lock: while another service runs on it, the start fails
    // with one line on standard error and touches nothing.
    bool Start() override;
    bool Stop() override;
    bool Pause() override;
    bool Continue() override;
    void ConsoleAttached() override;

    // Takes the values as read from the file (IntervalTicks := Intervall - 1, SourcePath :=
    // IPSource); used by ServiceStart and by tests that build a module by hand.
    void ApplySettings(const ServiceSettings& settings);
    // The start checks with their messages; splits IPSource in router mode. Sets and
    // returns ParamsValid.
    bool CheckParams();

    // Status reporting of the module: to the log file only, never to the monitor.
    void LogServiceStatus(int level, const std::string& text);
    void FlushServiceLog();

    // Waits at most timeoutMs for the worker to end; true when there is none left running.
    bool WaitForWorkerEnd(int timeoutMs);
    TPeloThread* Worker() const { return worker_.get(); }

    // Settings, in the module's order.
    std::string FTPHost;
    std::string SourceHost; // host of the address-source page (router mode)
    std::string FTPUser;
    std::string FTPPass; // plain
    std::string FTPSite;
    std::string SourcePath; // IPSource; in router mode cut down to its path
    IPv6Settings IPv6;
    std::string SourceHost6; // IPSource6 split like IPSource (router mode with IPv6 on)
    std::string SourcePath6;
    bool SourceSecure6 = false;
    std::string HTMLTemplate;
    std::string TempSite;
    std::string ProgramDir;
    std::array<std::string, 10> AddPage;
    TMailData MailData;
    bool eMail = false;
    int MsgLevel = 0;
    int IntervalTicks = 11;
    bool LogFile = false;
    bool Messages = true;
    bool FTPPassive = false;
    int FTPMode = 0; // as stored (common/ConnectionMode.h)
    int FTPPort = 0; // 0: the mode's standard port
    std::string FTPTrust;
    bool SourceSecure = false; // the address-source page is fetched over HTTPS
    bool Router = false;
    bool AddPages = false;
    std::string OnPublish; // command line run after each publication; empty: none
    std::string ServiceLogBuffer;
    bool ParamsValid = false;

    IClock& Clock;
    IHostAddressSource& HostSource;

protected:
    // Seams for tests: where the settings come from and which worker is created.
    virtual ServiceSettings ReadSettings();
    virtual std::unique_ptr<TPeloThread> MakeWorker();
    ISleeper& Sleeper() { return sleeper_ ? *sleeper_ : ownSleeper_; }

private:
    ISleeper* sleeper_;
    TWakeableSleeper ownSleeper_;
    std::unique_ptr<TInstanceLock> instanceLock_;
    std::unique_ptr<TPeloThread> worker_;
};

} // namespace pelorix
