#include "scm/ServiceApp.h"

#include "platform/ConsoleText.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace pelorix {

namespace {

// The one service of this program: the names the service control manager knows it by and shows.
const ServiceIdentity kIdentity;
const char* const kServiceName = kIdentity.name.c_str();
const char* const kDisplayName = kIdentity.displayName.c_str();

// How long the manager is told to wait for a start or a control request before it may
// consider the service hung; the handlers normally need far less.
constexpr DWORD kStartWaitHintMs = 10000;
constexpr DWORD kControlWaitHintMs = 5000;
// UNINSTALL waits this long for a running service to stop before it removes it anyway (the
// manager then deletes it as soon as it has stopped).
constexpr DWORD kUninstallStopLimitMs = 20000;
constexpr DWORD kStatusPollMs = 200;
// A closing console window ends the process soon after the console handler returns; the stop
// is given this long to finish first.
constexpr DWORD kConsoleCloseWaitMs = 4000;

constexpr DWORD kAcceptedControls =
    SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PAUSE_CONTINUE;

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    ~ScHandle() { Reset(); }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;

    void Reset(SC_HANDLE handle = nullptr) {
        if (handle_)
            CloseServiceHandle(handle_);
        handle_ = handle;
    }
    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

void WriteText(DWORD which, const std::string& latin1) {
    WriteStandardText(which == STD_OUTPUT_HANDLE ? StandardStream::Output : StandardStream::Error, latin1);
}

std::string ErrorText(DWORD error) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length > 0 && buffer ? std::string(buffer, length) : std::string();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text.empty() ? std::string("Unbekannter Fehler.") : text;
}

int Report(bool ok, const std::string& what, DWORD error, bool silent) {
    if (ok) {
        WriteText(STD_OUTPUT_HANDLE, what + "\n");
        return 0;
    }
    std::string text = what;
    if (!silent)
        text += "\n" + ErrorText(error) + " (Fehler " + std::to_string(error) + ")";
    WriteText(STD_ERROR_HANDLE, text + "\n");
    return 1;
}

void PrintUsage(const char* program) {
    std::string name = program ? program : "PelorixSvc";
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    WriteText(STD_ERROR_HANDLE,
              "Aufruf: " + name +
                  " -foreground\n"
                  "  l\xe4uft als Dienst im Vordergrund: Strg+C, Strg+Untbr oder das Schlie\xdf"
                  "en\n"
                  "  des Fensters beendet ihn.\n"
                  "oder als Dienst einrichten und starten (mit Administrator-Rechten):\n  " +
                  name + " /INSTALL [/SILENT]   danach: net start " + kServiceName + "\n  " + name +
                  " /UNINSTALL [/SILENT] entfernt den Dienst wieder\n");
}

std::string OwnPath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

int InstallService(bool silent) {
    const std::string what = std::string("Dienst \"") + kDisplayName + "\"";
    const std::string path = OwnPath();
    ScHandle manager;
    ScHandle service;
    if (!path.empty())
        manager.Reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    // Quoted, so a path with blanks names the program and nothing else; no account: the local
    // system account.
    if (manager)
        service.Reset(CreateServiceA(manager.Get(), kServiceName, kDisplayName, SERVICE_QUERY_STATUS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                     ("\"" + path + "\"").c_str(), nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    if (service)
        return Report(true, what + " wurde installiert (" + path + ").", 0, silent);
    return Report(false, what + " konnte nicht installiert werden.", GetLastError(), silent);
}

bool WaitUntilStopped(SC_HANDLE service) {
    const ULONGLONG begin = GetTickCount64();
    for (;;) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED)
            return true;
        const ULONGLONG elapsed = GetTickCount64() - begin;
        if (elapsed >= kUninstallStopLimitMs)
            return false;
        Sleep(static_cast<DWORD>(std::min<ULONGLONG>(kStatusPollMs, kUninstallStopLimitMs - elapsed)));
    }
}

int UninstallService(bool silent) {
    const std::string what = std::string("Dienst \"") + kDisplayName + "\"";
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service;
    if (manager)
        service.Reset(
            OpenServiceA(manager.Get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (service) {
        // Stopped first, so that it goes at once instead of when it stops some day.
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
            ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
            WaitUntilStopped(service.Get());
        }
        if (DeleteService(service.Get()))
            return Report(true, what + " wurde deinstalliert.", 0, silent);
    }
    return Report(false, what + " konnte nicht deinstalliert werden.", GetLastError(), silent);
}

// The service the manager started. The service main thread is the control thread: it runs the
// start handler, then every stop, pause and continue request the manager's handler hands it,
// so that handler returns at once and never waits for one of ours.
class ServiceRun {
public:
    explicit ServiceRun(IServiceHandlers& handlers) : dispatcher_(handlers) {}
    ServiceRun(const ServiceRun&) = delete;
    ServiceRun& operator=(const ServiceRun&) = delete;

    void Main();
    DWORD Handle(DWORD control);
    int ExitCode() const { return exitCode_; }

private:
    // Both with mutex_ held.
    void SetState(DWORD state, DWORD waitHint = 0);
    DWORD Request(ServiceControl control, DWORD pending);

    ServiceDispatcher dispatcher_;
    std::mutex mutex_;
    std::condition_variable requested_;
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    SERVICE_STATUS status_{};
    std::optional<ServiceControl> request_; // taken by the control thread
    int exitCode_ = 1;                      // written before the last report, read after the dispatcher
};

// The manager calls the service main function without any context of ours.
ServiceRun* g_serviceRun = nullptr;

DWORD WINAPI ServiceHandler(DWORD control, DWORD, LPVOID, LPVOID context) {
    return static_cast<ServiceRun*>(context)->Handle(control);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    if (g_serviceRun)
        g_serviceRun->Main();
}

void ServiceRun::SetState(DWORD state, DWORD waitHint) {
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = state;
    const bool settled = state == SERVICE_RUNNING || state == SERVICE_PAUSED;
    const bool changing = state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    status_.dwControlsAccepted = settled || changing ? kAcceptedControls : 0;
    status_.dwWaitHint = waitHint;
    status_.dwCheckPoint = waitHint != 0 ? status_.dwCheckPoint + 1 : 0;
    SetServiceStatus(statusHandle_, &status_);
}

DWORD ServiceRun::Request(ServiceControl control, DWORD pending) {
    request_ = control;
    SetState(pending, kControlWaitHintMs);
    requested_.notify_one();
    return NO_ERROR;
}

DWORD ServiceRun::Handle(DWORD control) {
    if (control == SERVICE_CONTROL_SHUTDOWN) {
        // As at system shutdown: no handler runs, the worker ends with the process.
        SERVICE_STATUS last;
        SERVICE_STATUS_HANDLE handle;
        {
            std::lock_guard lock(mutex_);
            last = status_;
            handle = statusHandle_;
        }
        last.dwCurrentState = SERVICE_STOPPED;
        last.dwControlsAccepted = 0;
        last.dwCheckPoint = 0;
        last.dwWaitHint = 0;
        SetServiceStatus(handle, &last);
        std::_Exit(0);
    }
    std::lock_guard lock(mutex_);
    const DWORD state = status_.dwCurrentState;
    const bool settled = !request_ && (state == SERVICE_RUNNING || state == SERVICE_PAUSED);
    switch (control) {
    case SERVICE_CONTROL_INTERROGATE:
        SetServiceStatus(statusHandle_, &status_);
        return NO_ERROR;
    case SERVICE_CONTROL_STOP:
        return settled ? Request(ServiceControl::Stop, SERVICE_STOP_PENDING)
                       : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    case SERVICE_CONTROL_PAUSE:
        if (settled && state == SERVICE_PAUSED)
            return NO_ERROR;
        return settled ? Request(ServiceControl::Pause, SERVICE_PAUSE_PENDING)
                       : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    case SERVICE_CONTROL_CONTINUE:
        if (settled && state == SERVICE_RUNNING)
            return NO_ERROR;
        return settled ? Request(ServiceControl::Continue, SERVICE_CONTINUE_PENDING)
                       : ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void ServiceRun::Main() {
    const SERVICE_STATUS_HANDLE registered =
        RegisterServiceCtrlHandlerExA(kServiceName, &ServiceHandler, this);
    // Without a status handle nothing can tell the manager this service has stopped, and the
    // dispatcher would wait for it for ever: the process ends, which the manager does notice.
    if (!registered)
        std::_Exit(1);
    std::unique_lock lock(mutex_);
    statusHandle_ = registered;
    SetState(SERVICE_START_PENDING, kStartWaitHintMs);
    lock.unlock();
    const bool started = dispatcher_.Control(ServiceControl::Start);
    lock.lock();
    if (started) {
        SetState(SERVICE_RUNNING);
        for (;;) {
            requested_.wait(lock, [this] { return request_.has_value(); });
            const ServiceControl control = *request_;
            lock.unlock();
            dispatcher_.Control(control);
            lock.lock();
            request_.reset();
            const ServiceState now = dispatcher_.State();
            if (now == ServiceState::Stopped)
                break;
            // A handler that failed leaves the state it found.
            SetState(now == ServiceState::Paused ? SERVICE_PAUSED : SERVICE_RUNNING);
        }
    }
    exitCode_ = started ? 0 : 1;
    SERVICE_STATUS last = status_;
    last.dwCurrentState = SERVICE_STOPPED;
    last.dwControlsAccepted = 0;
    last.dwCheckPoint = 0;
    last.dwWaitHint = 0;
    if (!started) {
        last.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        last.dwServiceSpecificExitCode = 1;
    }
    const SERVICE_STATUS_HANDLE handle = statusHandle_;
    lock.unlock();
    // The last report lets the dispatcher return and the program entry end the process: from
    // here on nothing of this object may be touched.
    SetServiceStatus(handle, &last);
}

// Returns the exit code, or nothing when the program was not started by the manager.
std::optional<int> RunDispatched(IServiceHandlers& handlers) {
    ServiceRun run(handlers);
    g_serviceRun = &run;
    std::string name = kServiceName;
    SERVICE_TABLE_ENTRYA table[] = {{name.data(), &ServiceMain}, {nullptr, nullptr}};
    const bool ran = StartServiceCtrlDispatcherA(table);
    const DWORD error = ran ? 0 : GetLastError();
    g_serviceRun = nullptr;
    if (ran)
        return run.ExitCode();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
        return std::nullopt;
    Report(false, std::string("Dienst \"") + kDisplayName + "\" konnte nicht laufen.", error, false);
    return 1;
}

// The console's stop request in foreground mode. The system calls the console handler on a
// thread of its own, which may still wait here while the process ends; so the object lives
// until the end of the process.
class ConsoleStop {
public:
    static ConsoleStop& Instance() {
        static ConsoleStop* const instance = new ConsoleStop;
        return *instance;
    }
    void Install() { SetConsoleCtrlHandler(&ConsoleHandler, TRUE); }
    void WaitForRequest() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return requested_; });
    }
    void Finished() {
        std::lock_guard lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }

private:
    static BOOL WINAPI ConsoleHandler(DWORD event) {
        ConsoleStop& self = Instance();
        std::unique_lock lock(self.mutex_);
        self.requested_ = true;
        self.changed_.notify_all();
        // Closing the window, logging off or shutting down end the process once this returns.
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
            self.changed_.wait_for(lock, std::chrono::milliseconds(kConsoleCloseWaitMs),
                                   [&self] { return self.finished_; });
        return TRUE;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool requested_ = false;
    bool finished_ = false;
};

int RunForeground(IServiceHandlers& handlers) {
    ConsoleStop& console = ConsoleStop::Instance();
    console.Install();
    handlers.ConsoleAttached();
    ServiceDispatcher dispatcher(handlers);
    if (!dispatcher.Control(ServiceControl::Start)) {
        console.Finished();
        return 1;
    }
    console.WaitForRequest();
    dispatcher.Control(ServiceControl::Stop);
    console.Finished();
    return 0;
}

} // namespace

int RunServiceApp(int argc, char** argv, IServiceHandlers& handlers) {
    const char* program = argc > 0 ? argv[0] : nullptr;
    const std::optional<ServiceSwitches> switches = ReadServiceSwitches(argc, argv);
    if (!switches) {
        PrintUsage(program);
        return 2;
    }
    const auto [foreground, install, uninstall, silent] = *switches;
    if ((install || uninstall) && !(install && uninstall) && !foreground)
        return install ? InstallService(silent) : UninstallService(silent);
    if (foreground && !install && !uninstall && !silent)
        return RunForeground(handlers);
    if (argc <= 1) {
        // The manager starts the program without arguments; started by hand it is no service.
        if (const auto code = RunDispatched(handlers))
            return *code;
    }
    PrintUsage(program);
    return 2;
}

} // namespace pelorix
