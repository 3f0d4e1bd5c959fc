#pragma once
// The service framework of this platform, standing in for the Windows service application
// and the service control manager's dispatcher. The program entry hands it the service's
// handlers; it runs them one at a time on one control thread, never inside a signal handler.
//
// Foreground mode (switch FOREGROUND, with "/" or "-", any letter case): the start handler
// runs at once, then SIGTERM, SIGINT and SIGHUP (the terminal went away) stop (stop handler, then the run
// ends), SIGUSR1 pauses and SIGUSR2 continues. Started so by systemd (the unit pelorix.service),
// the service tells it when it is ready and each change of its state.

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace pelorix {

// The four control handlers of a service; each reports whether it succeeded.
class IServiceHandlers {
public:
    virtual ~IServiceHandlers() = default;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual bool Pause() = 0;
    virtual bool Continue() = 0;
    // Called before Start when the service runs attached to a terminal (foreground mode).
    virtual void ConsoleAttached() {}
};

// The name the service control manager knows the service by, the name people see, and the
// file name of the service program.
struct ServiceIdentity {
    std::string name = "PelorixService";
    std::string displayName = "Pelorix-Publisher";
    std::string program = "PelorixSvc";
};

enum class ServiceState { Stopped, Running, Paused };

// What a service started by systemd tells as its status (STATUS=, UTF-8): "systemctl status"
// shows it, and the control layer reads from it whether the service is paused.
inline constexpr std::string_view kUnitStatusRunning = "Läuft";
inline constexpr std::string_view kUnitStatusPaused = "Angehalten";
inline constexpr std::string_view kUnitStatusStopping = "Wird beendet";
enum class ServiceControl { Start, Stop, Pause, Continue };

// Runs control requests against the handlers, one at a time, and keeps the state the
// service control manager would: a request that does not fit the state is refused without
// calling a handler; a handler that fails leaves the state unchanged. A service starts once
// per process: after its stop, a start is refused. Thread-safe.
class ServiceDispatcher {
public:
    explicit ServiceDispatcher(IServiceHandlers& handlers) : handlers_(handlers) {}
    // True when the request was accepted and its handler succeeded.
    bool Control(ServiceControl control);
    ServiceState State() const;

private:
    IServiceHandlers& handlers_;
    mutable std::mutex mutex_; // held while a handler runs
    ServiceState state_ = ServiceState::Stopped;
    bool started_ = false;
};

// True when arg is the switch name: "/" or "-" in front, the name in any letter case.
bool IsSwitch(std::string_view arg, std::string_view name);

// The switches of the program entry (FOREGROUND, INSTALL, UNINSTALL, SILENT); none for an
// argument that is none of them.
struct ServiceSwitches {
    bool foreground = false;
    bool install = false;
    bool uninstall = false;
    bool silent = false;
};
std::optional<ServiceSwitches> ReadServiceSwitches(int argc, char** argv);

// The program entry's one call: reads the switches and runs the service accordingly until it
// has stopped. Returns the process exit code.
int RunServiceApp(int argc, char** argv, IServiceHandlers& handlers);

} // namespace pelorix
