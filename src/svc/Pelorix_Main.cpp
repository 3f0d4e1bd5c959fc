#include "svc/Pelorix_Main.h"

#include "svc/AddressChoice.h"
#include "svc/AddressScan.h"

#include "base/Latin1.h"
#include "platform/SystemMessage.h"
#include "svc/StatusLog.h"

#include <chrono>
#include <climits>
#include <utility>

namespace pelorix {

// ---------------------------------------------------------------------------------------------
// TWakeableSleeper

void TWakeableSleeper::SleepMs(int ms) {
    std::unique_lock lock(mutex_);
    if (ms > 0)
        wakeUp_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return woken_; });
}

void TWakeableSleeper::Reset() {
    std::lock_guard lock(mutex_);
    woken_ = false;
}

void TWakeableSleeper::Wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wakeUp_.notify_all();
}

// ---------------------------------------------------------------------------------------------
// TPeloThread: thread control

TPeloThread::TPeloThread(const TPelorixService& service, IClock& clock, ISleeper& sleeper,
                         IHostAddressSource& hostAddresses, ICommandRunner* commands)
    : Service(service), Clock(clock), Sleeper(sleeper), HostSource(hostAddresses),
      ProgramDir(service.ProgramDir), IntervalTicks(service.IntervalTicks), MsgLevel(service.MsgLevel),
      RouterMode(service.Router), MonitorEnabled(service.Messages), LogToFile(service.LogFile),
      commands_(commands) {
    if (!commands_) {
        ownCommands_ = std::make_unique<TShellCommandRunner>(SystemClock::Instance());
        commands_ = ownCommands_.get();
    }
}

TPeloThread::~TPeloThread() {
    Terminate();
    if (thread_.joinable())
        thread_.join();
}

void TPeloThread::Start() {
    if (thread_.joinable())
        return;
    {
        std::lock_guard lock(endMutex_);
        running_ = true;
    }
    thread_ = std::thread(&TPeloThread::ThreadMain, this);
}

void TPeloThread::ThreadMain() {
    try {
        Execute();
    } catch (...) {
        // Nothing may end the process from the worker; the stages report their own failures.
    }
    // Lines recorded after the stop handler took the buffer (a stop right after the start
    // comes before the worker's first line) would otherwise never reach the file.
    FlushLog();
    {
        std::lock_guard lock(endMutex_);
        running_ = false;
    }
    ended_.notify_all();
}

void TPeloThread::Terminate() {
    terminated_ = true;
    commands_->Stop(); // a command under way ends within the stop's grace
    { std::lock_guard lock(holdMutex_); }
    holdChanged_.notify_all();
}

void TPeloThread::Hold() {
    std::lock_guard lock(holdMutex_);
    held_ = true;
}

void TPeloThread::Release() {
    {
        std::lock_guard lock(holdMutex_);
        held_ = false;
    }
    holdChanged_.notify_all();
}

bool TPeloThread::Held() const {
    std::lock_guard lock(holdMutex_);
    return held_;
}

bool TPeloThread::WaitFor(int timeoutMs) {
    std::unique_lock lock(endMutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !running_; });
}

bool TPeloThread::WaitWhileHeld() {
    std::unique_lock lock(holdMutex_);
    holdChanged_.wait(lock, [this] { return !held_ || terminated_.load(); });
    return !terminated_.load();
}

// ---------------------------------------------------------------------------------------------
// TPeloThread: the publishing cycle

namespace {

// A stage is expected to catch its own errors; whatever still escapes counts as a failure.
template <typename Stage> bool Guarded(Stage&& stage) {
    try {
        return stage();
    } catch (...) {
        return false;
    }
}

} // namespace

void TPeloThread::Execute() {
    LogStatus(4, "+ServiceThread übernimmt"_l1);
    AddressFound = false;
    PageReady = false;
    Sleeper.SleepMs(kStartDelayMs);
    CheckCountdown = 0;
    RetriesLeft = kQuickRetries;
    while (!Terminated()) {
        if (!WaitWhileHeld())
            break;
        RunTick();
        Sleeper.SleepMs(kTickSleepMs);
    }
}

void TPeloThread::RunTick() {
    if (CheckCountdown > 0) {
        --CheckCountdown;
        return;
    }
    RunCheck();
}

void TPeloThread::RunCheck() {
    AddressFound = DetermineAddress();
    if (AddressChanged()) {
        if (RetriesLeft > 0)
            --RetriesLeft;
        if (AddressFound)
            Publish();
        else if (RetriesLeft == 0)
            ScheduleSlowRetry();
    } else {
        CheckCountdown = IntervalTicks;
        if (RouterMode)
            LogStatus(3, "+IP-Adresse(n) unverändert"_l1);
    }
    FlushLog();
}

// Each family detects its own change; a change of either publishes.
bool TPeloThread::AddressChanged() const {
    return CurrentIP != PublishedIP || (Service.IPv6.On() && CurrentIP6 != PublishedIP6);
}

// IPv6 alone publishes the IPv6 address for "%IP%" too, so pages and mails made for one
// address keep working.
bool TPeloThread::DetermineAddress() {
    const IPv6Use use = Service.IPv6.Mode();
    const bool found4 = use == IPv6Use::Only ? false : DetermineIPv4();
    if (found4)
        ReportNonPublicIPv4();
    if (use == IPv6Use::Off)
        return found4;
    const bool found6 = Guarded([this] { return DetermineIPv6(); });
    if (use == IPv6Use::Also)
        return found4;
    if (found6)
        CurrentIP = CurrentIP6;
    else if (RouterMode)
        CurrentIP = "###"; // as a failed IPv4 query: changed, not determined, so retried
    return found6;
}

void TPeloThread::ReportNonPublicIPv4() {
    if (CurrentIP == ReportedIPv4)
        return;
    ReportedIPv4 = CurrentIP;
    if (const auto reason = NonPublicIPv4Reason(CurrentIP))
        LogStatus(0, NonPublicIPv4Line(CurrentIP, *reason));
}

bool TPeloThread::DetermineIPv4() {
    if (RouterMode)
        return Guarded([this] { return QueryAddressSource(); });
    const bool hostAddressesChanged = Guarded([this] { return CheckHostAddresses(); });
    if (hostAddressesChanged || RetriesLeft > 0)
        return Guarded([this] { return ProbeFTPAddress(); });
    // Nothing new on this host: the previous result stands.
    return AddressFound;
}

void TPeloThread::Publish() {
    // A page made for an earlier candidate address is made again: the published page must
    // always show the address that becomes PublishedIP.
    if (PageReady && (PageIP != CurrentIP || PageIP6 != CurrentIP6))
        PageReady = false;
    if (!PageReady) {
        PageReady = Guarded([this] { return GeneratePages(); });
        PageIP = CurrentIP;
        PageIP6 = CurrentIP6;
    }
    if (!PageReady)
        return; // the next tick tries again
    if (Guarded([this] { return UploadPage(); })) {
        const std::string previousIP = PublishedIP == "#" ? std::string() : PublishedIP;
        const std::string previousIP6 = PublishedIP6 == "#" ? std::string() : PublishedIP6;
        PublishedIP = PageIP;
        PublishedIP6 = PageIP6;
        CheckCountdown = IntervalTicks;
        RetriesLeft = 0;
        PageReady = false;
        // After the upload and its mail; whatever the command does, the publication stands.
        Guarded([&] {
            RunPublishCommand(previousIP, previousIP6);
            return true;
        });
    } else if (RetriesLeft == 0) {
        ScheduleSlowRetry();
    }
}

void TPeloThread::ScheduleSlowRetry() {
    RetriesLeft = 1;
    CheckCountdown = kSlowRetryWait;
}

// ---------------------------------------------------------------------------------------------
// TPeloThread: status reporting

void TPeloThread::LogStatus(int level, const std::string& text) {
    if (level > MsgLevel)
        return;
    const std::string line = TimeStamp(Clock.Now()) + text;
    {
        std::lock_guard lock(logMutex_);
        AppendRecord(LogBuffer, line);
    }
    EchoKeptLine(line);
    if (MonitorEnabled)
        SendToMonitor(line);
}

void TPeloThread::FlushLog() {
    std::lock_guard lock(logMutex_);
    if (!LogToFile) {
        LogBuffer.clear(); // never written: nothing to keep them for
        return;
    }
    FlushToLogFile(ProgramDir, LogBuffer); // also what an earlier flush could not write
}

std::string TPeloThread::TakeLog() {
    std::lock_guard lock(logMutex_);
    std::string taken;
    taken.swap(LogBuffer);
    return taken;
}

void TPeloThread::SendToMonitor(const std::string& line) {
    SendMonitorLine(line);
}

// ---------------------------------------------------------------------------------------------
// TPelorixService

TPelorixService::TPelorixService(std::string programDir, IClock& clock, IHostAddressSource& hostAddresses,
                                 ISleeper* sleeper)
    : ProgramDir(std::move(programDir)), Clock(clock), HostSource(hostAddresses), sleeper_(sleeper) {}

TPelorixService::~TPelorixService() {
    if (worker_) {
        worker_->Terminate();
        ownSleeper_.Wake();
        worker_.reset();
    }
}

ServiceSettings TPelorixService::ReadSettings() {
    return ReadServiceSettings(ProgramDir);
}

std::unique_ptr<TPeloThread> TPelorixService::MakeWorker() {
    return std::make_unique<TPeloThread>(*this, Clock, Sleeper(), HostSource);
}

void TPelorixService::ApplySettings(const ServiceSettings& settings) {
    HTMLTemplate = settings.HTMLTemplate;
    TempSite = settings.TempSite;
    FTPHost = settings.FTPHost;
    FTPUser = settings.FTPUser;
    FTPPass = settings.FTPPass;
    FTPSite = settings.FTPSite;
    FTPPassive = settings.FTPPassive;
    FTPMode = settings.FTPMode;
    FTPPort = settings.FTPPort;
    FTPTrust = settings.FTPTrust;
    Router = settings.Router;
    SourcePath = settings.IPSource;
    SourceHost.clear();
    IPv6 = settings.IPv6;
    SourcePath6 = settings.IPv6.Source;
    SourceHost6.clear();
    AddPages = settings.AddPages;
    AddPage = settings.AddPage;
    eMail = settings.eMail;
    MailData = settings.Mail;
    IntervalTicks = settings.Intervall == INT_MIN ? INT_MIN : settings.Intervall - 1;
    Messages = settings.Messages;
    MsgLevel = settings.MsgLevel;
    LogFile = settings.LogFile;
    OnPublish = settings.OnPublish;
}

bool TPelorixService::CheckParams() {
    ParamsValid = true;
    if (Router) {
        // "https://" fetches the page over TLS, "http://" is the plain page without the prefix.
        SourceSecure = SplitSourceScheme(SourcePath);
        // The address-source page is host and path; the host needs at least two characters.
        const std::size_t slash = SourcePath.find('/');
        if (slash == std::string::npos || slash < 2) {
            ParamsValid = false;
            LogServiceStatus(1, "-keine HTTP-Seite eingetragen");
        } else {
            SourceHost = SourcePath.substr(0, slash);
            SourcePath.erase(0, slash);
        }
    }
    // IPSource6 empty: the IPv6 address comes from the interface, which behind a router is
    // reached from outside as it is.
    if (Router && IPv6.On() && !SourcePath6.empty()) {
        SourceSecure6 = SplitSourceScheme(SourcePath6);
        if (!SplitAddressSource(std::string(SourcePath6), SourceHost6, SourcePath6)) {
            ParamsValid = false;
            LogServiceStatus(1, "-keine HTTP-Seite für IPv6 eingetragen"_l1);
        }
    }
    if (FTPHost.size() < 2) {
        ParamsValid = false;
        LogServiceStatus(1, "-kein FTP-Host eingetragen");
    }
    if (FTPUser.empty()) {
        ParamsValid = false;
        LogServiceStatus(1, "-fehlender FTP-Benutzer");
    }
    if (FTPPass.empty()) {
        ParamsValid = false;
        LogServiceStatus(1, "-fehlendes FTP-Passwort");
    }
    return ParamsValid;
}

void TPelorixService::ServiceStart(bool& Started) {
    ServiceLogBuffer = DateHeader(Clock.Now());
    MsgLevel = 0; // the start line is always kept
    LogServiceStatus(0, "+Service gestartet *");
    const ServiceSettings settings = ReadSettings();
    // The log cannot hold this: its switch is one of the settings that could not be read.
    if (settings.IniError != 0)
        SayOnStandardError(std::string(kIniFileName) +
                           " nicht lesbar: " + SystemErrorText(settings.IniError));
    ApplySettings(settings);
    if (CheckParams()) {
        // Each start normally runs in a new process; a worker of an earlier start ends first.
        if (worker_) {
            worker_->Terminate();
            ownSleeper_.Wake();
            worker_.reset();
            ownSleeper_.Reset();
        }
        worker_ = MakeWorker();
        worker_->Start();
        LogServiceStatus(4, "+ServiceThread erzeugt");
    } else {
        LogServiceStatus(0, "-unzureichende(r) Parameter");
    }
    FlushServiceLog();
    Started = true;
}

void TPelorixService::ServiceStop(bool& Stopped) {
    if (ParamsValid && worker_) {
        worker_->LogStatus(4, "-Thread-Ende angefordert");
        // The worker's pending lines go to the file ahead of the stop line. Lines of the
        // module that an earlier failed flush left pending stay ahead of them.
        AppendPending(ServiceLogBuffer, worker_->TakeLog());
        worker_->Terminate();
        ownSleeper_.Wake();
    }
    LogServiceStatus(0, "-Service beendet *");
    FlushServiceLog();
    Stopped = true;
}

void TPelorixService::ServicePause(bool& Paused) {
    if (ParamsValid && worker_) {
        worker_->Hold();
        LogServiceStatus(0, "-Service angehalten *");
        FlushServiceLog();
    }
    Paused = true;
}

void TPelorixService::ServiceContinue(bool& Continued) {
    if (ParamsValid && worker_) {
        LogServiceStatus(0, "+Service fortgesetzt *");
        FlushServiceLog();
        worker_->Release();
    }
    Continued = true;
}

bool TPelorixService::Start() {
    if (!instanceLock_)
        instanceLock_ = std::make_unique<TInstanceLock>(ProgramDir);
    if (instanceLock_->TakenByOther()) {
        instanceLock_.reset();
        SayOnStandardError("Der Pelorix-Publisher läuft bereits für das Programmverzeichnis "_l1 +
                           ProgramDir + "; ein zweiter Start ist nicht möglich."_l1);
        return false;
    }
    bool started = false;
    ServiceStart(started);
    return started;
}

bool TPelorixService::Stop() {
    bool stopped = false;
    ServiceStop(stopped);
    return stopped;
}

bool TPelorixService::Pause() {
    bool paused = false;
    ServicePause(paused);
    return paused;
}

bool TPelorixService::Continue() {
    bool continued = false;
    ServiceContinue(continued);
    return continued;
}

void TPelorixService::ConsoleAttached() {
    SetConsoleEcho(true);
}

void TPelorixService::LogServiceStatus(int level, const std::string& text) {
    if (level > MsgLevel)
        return;
    const std::string line = TimeStamp(Clock.Now()) + text;
    AppendRecord(ServiceLogBuffer, line);
    EchoKeptLine(line);
}

void TPelorixService::FlushServiceLog() {
    if (!LogFile) {
        ServiceLogBuffer.clear(); // never written: nothing to keep them for
        return;
    }
    FlushToLogFile(ProgramDir, ServiceLogBuffer);
}

bool TPelorixService::WaitForWorkerEnd(int timeoutMs) {
    return !worker_ || worker_->WaitFor(timeoutMs);
}

} // namespace pelorix
