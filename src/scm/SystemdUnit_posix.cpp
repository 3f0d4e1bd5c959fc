#include "scm/SystemdUnit.h"

#include "base/Latin1.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"
#include "scm/ServiceApp.h"
#include "scm/ServiceDatabase.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace pelorix::scm::systemd {

namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";
// Where the package puts the unit, and where an administrator's copy would lie.
constexpr const char* kUnitFiles[] = {"/etc/systemd/system/pelorix.service",
                                      "/usr/lib/systemd/system/pelorix.service",
                                      "/lib/systemd/system/pelorix.service"};
// Longer than the unit's own start and stop time limits, so that systemd ends a job first.
constexpr int kJobWaitMs = 150000;
// How long the service may take to confirm a pause or a continue in its status.
constexpr int kStatusWaitMs = 30000;
constexpr int kPollMs = 20;

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

bool Succeed() {
    SetLastError(ERROR_SUCCESS);
    return true;
}

// The few functions of libsystemd's sd-bus the calls use, loaded once and kept.
struct BusApi {
    decltype(&sd_bus_open_system) open_system = nullptr;
    decltype(&sd_bus_flush_close_unref) flush_close_unref = nullptr;
    decltype(&sd_bus_call_method) call_method = nullptr;
    decltype(&sd_bus_get_property) get_property = nullptr;
    decltype(&sd_bus_get_property_string) get_property_string = nullptr;
    decltype(&sd_bus_message_read) message_read = nullptr;
    decltype(&sd_bus_message_enter_container) enter_container = nullptr;
    decltype(&sd_bus_message_unref) message_unref = nullptr;
    decltype(&sd_bus_error_free) error_free = nullptr;
};

template <typename Function> bool Resolve(void* library, Function& function, const char* name) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

const BusApi* LoadApi() {
    void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullptr;
    static BusApi api;
    const bool complete = Resolve(library, api.open_system, "sd_bus_open_system") &&
                          Resolve(library, api.flush_close_unref, "sd_bus_flush_close_unref") &&
                          Resolve(library, api.call_method, "sd_bus_call_method") &&
                          Resolve(library, api.get_property, "sd_bus_get_property") &&
                          Resolve(library, api.get_property_string, "sd_bus_get_property_string") &&
                          Resolve(library, api.message_read, "sd_bus_message_read") &&
                          Resolve(library, api.enter_container, "sd_bus_message_enter_container") &&
                          Resolve(library, api.message_unref, "sd_bus_message_unref") &&
                          Resolve(library, api.error_free, "sd_bus_error_free");
    return complete ? &api : nullptr;
}

const BusApi* Api() {
    static const BusApi* api = LoadApi();
    return api;
}

// The error number for what systemd (or polkit through it) answered.
DWORD FromBusError(const sd_bus_error& error, int result) {
    const std::string name = error.name ? error.name : "";
    if (name == "org.freedesktop.DBus.Error.AccessDenied" ||
        name == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired" ||
        name == "org.freedesktop.DBus.Error.AuthFailed" || result == -EACCES || result == -EPERM)
        return ERROR_ACCESS_DENIED;
    if (name == "org.freedesktop.systemd1.NoSuchUnit" || name == "org.freedesktop.DBus.Error.FileNotFound")
        return ERROR_SERVICE_DOES_NOT_EXIST;
    if (name == "org.freedesktop.systemd1.UnitMasked")
        return ERROR_SERVICE_DISABLED;
    if (name == "org.freedesktop.DBus.Error.NoReply" || name == "org.freedesktop.DBus.Error.Timeout" ||
        result == -ETIMEDOUT)
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
}

class Message {
public:
    Message() = default;
    ~Message() {
        if (message_)
            Api()->message_unref(message_);
    }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    sd_bus_message** Out() { return &message_; }
    sd_bus_message* Get() const { return message_; }

private:
    sd_bus_message* message_ = nullptr;
};

class BusError {
public:
    ~BusError() { Api()->error_free(&error_); }
    sd_bus_error* Get() { return &error_; }
    // Sets the error number for this answer and returns false.
    bool Fail(int result) { return systemd::Fail(FromBusError(error_, result)); }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// One connection to the system bus, and the unit's object on it.
class Bus {
public:
    Bus() {
        if (Api() && Api()->open_system(&bus_) < 0)
            bus_ = nullptr;
    }
    ~Bus() {
        if (bus_)
            Api()->flush_close_unref(bus_);
    }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // False with ERROR_RPC_SERVER_UNAVAILABLE when there is no bus or no unit object.
    bool Open() {
        if (!bus_)
            return Fail(ERROR_RPC_SERVER_UNAVAILABLE);
        Message reply;
        const char* path = nullptr;
        if (!CallManager("LoadUnit", reply, "s", kUnitName) ||
            Api()->message_read(reply.Get(), "o", &path) < 0)
            return Fail(ERROR_RPC_SERVER_UNAVAILABLE);
        unitPath_ = path;
        return true;
    }

    // Calls a method of systemd's manager; false with the error number of its answer.
    template <typename... Args>
    bool CallManager(const char* method, Message& reply, const char* types, Args... args) {
        BusError error;
        const int result = Api()->call_method(bus_, kDestination, kManagerPath, kManagerInterface, method,
                                              error.Get(), reply.Out(), types, args...);
        return result >= 0 || error.Fail(result);
    }

    std::string Property(const char* interface, const char* name) {
        BusError error;
        char* value = nullptr;
        if (Api()->get_property_string(bus_, kDestination, unitPath_.c_str(), interface, name, error.Get(),
                                       &value) < 0)
            return {};
        std::string text = value ? value : "";
        std::free(value);
        return text;
    }

    // True while systemd still has a job (start, stop …) for the unit.
    bool JobPending() {
        BusError error;
        Message reply;
        std::uint32_t id = 0;
        const char* path = nullptr;
        if (Api()->get_property(bus_, kDestination, unitPath_.c_str(), kUnitInterface, "Job", error.Get(),
                                reply.Out(), "(uo)") < 0 ||
            Api()->message_read(reply.Get(), "(uo)", &id, &path) < 0)
            return false;
        return id != 0;
    }

    // The program the unit starts: the path of its first ExecStart= line.
    std::string Program() {
        BusError error;
        Message reply;
        const char* path = nullptr;
        if (Api()->get_property(bus_, kDestination, unitPath_.c_str(), kServiceInterface, "ExecStart",
                                error.Get(), reply.Out(), "a(sasbttttuii)") < 0 ||
            Api()->enter_container(reply.Get(), SD_BUS_TYPE_ARRAY, "(sasbttttuii)") <= 0 ||
            Api()->enter_container(reply.Get(), SD_BUS_TYPE_STRUCT, "sasbttttuii") <= 0 ||
            Api()->message_read(reply.Get(), "s", &path) < 0 || !path)
            return {};
        return path;
    }

    // As on disk now (the unit's own property keeps what systemd read at its last reload).
    std::string FileState() {
        Message reply;
        const char* state = nullptr;
        if (!CallManager("GetUnitFileState", reply, "s", kUnitName) ||
            Api()->message_read(reply.Get(), "s", &state) < 0 || !state)
            return {};
        return state;
    }

private:
    sd_bus* bus_ = nullptr;
    std::string unitPath_;
};

bool Enabled(Bus& bus) {
    const std::string state = bus.FileState();
    return state == "enabled" || state == "enabled-runtime" || state == "linked" || state == "linked-runtime";
}

bool MarkerPresent() {
    struct stat st {};
    return ::lstat(kInstalledMarker, &st) == 0 && S_ISREG(st.st_mode);
}

// Whoever may not look into the group's service database learns nothing of the service, as
// with the service database of our own.
DWORD MarkerError() {
    struct stat st {};
    if (::lstat(kInstalledMarker, &st) == 0)
        return S_ISREG(st.st_mode) ? ERROR_SUCCESS : ERROR_SERVICE_DOES_NOT_EXIST;
    return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_SERVICE_DOES_NOT_EXIST;
}

// Created, never opened when something is there already: the directory is the group's, and
// root must not follow what a member put there.
bool CreateMarker() {
    const int fd = ::open(kInstalledMarker, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (fd < 0)
        return Fail(errno == EEXIST ? ERROR_SERVICE_EXISTS : ERROR_ACCESS_DENIED);
    ::close(fd);
    return true;
}

bool RemoveMarker() {
    return ::unlink(kInstalledMarker) == 0 || errno == ENOENT || Fail(ERROR_ACCESS_DENIED);
}

bool ServiceName(const std::string& name) {
    return strcasecmp(name.c_str(), ServiceIdentity{}.name.c_str()) == 0;
}

std::string Resolved(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The unit's state in the terms of the control calls; a paused service says so in its status.
SERVICE_STATUS CurrentStatus(Bus& bus) {
    SERVICE_STATUS status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    const std::string active = bus.Property(kUnitInterface, "ActiveState");
    if (active == "active" || active == "reloading") {
        const bool paused = bus.Property(kServiceInterface, "StatusText") == kUnitStatusPaused;
        status.dwCurrentState = paused ? SERVICE_PAUSED : SERVICE_RUNNING;
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    } else if (active == "activating") {
        status.dwCurrentState = SERVICE_START_PENDING;
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    } else if (active == "deactivating") {
        status.dwCurrentState = SERVICE_STOP_PENDING;
    } else {
        status.dwCurrentState = SERVICE_STOPPED;
        if (active == "failed")
            status.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
    }
    return status;
}

// Polls (bounded) until done says the wait is over; false when the time ran out.
template <typename Done> bool AwaitUntil(int timeoutMs, Done done) {
    const Deadline deadline = Deadline::In(SystemClock::Instance(), timeoutMs);
    while (!done()) {
        if (deadline.Passed())
            return false;
        SystemSleeper::Instance().SleepMs(kPollMs);
    }
    return true;
}

// Runs a start or stop job and waits until systemd has finished it; the state it left.
bool RunJob(Bus& bus, const char* method, SERVICE_STATUS& status) {
    Message reply;
    if (!bus.CallManager(method, reply, "ss", kUnitName, "replace"))
        return false;
    const bool done = AwaitUntil(kJobWaitMs, [&] { return !bus.JobPending(); });
    status = CurrentStatus(bus);
    return done || Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

bool StopUnit(Bus& bus, SERVICE_STATUS& status) {
    if (!RunJob(bus, "StopUnit", status))
        return false;
    return status.dwCurrentState == SERVICE_STOPPED ? Succeed() : Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

// Pause and continue: the signal the service takes for it, then its confirmation.
bool SignalUnit(Bus& bus, int signo, DWORD wanted, SERVICE_STATUS& status) {
    if (status.dwCurrentState == wanted)
        return Succeed();
    Message reply;
    if (!bus.CallManager("KillUnit", reply, "ssi", kUnitName, "main", signo))
        return false;
    const bool confirmed = AwaitUntil(kStatusWaitMs, [&] {
        status = CurrentStatus(bus);
        return status.dwCurrentState == wanted || status.dwCurrentState == SERVICE_STOPPED;
    });
    if (status.dwCurrentState == SERVICE_STOPPED)
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    return confirmed ? Succeed() : Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

} // namespace

bool Drives() {
    const char* own = std::getenv(db::kDirVariable);
    struct stat st {};
    if ((own && *own) || ::stat("/run/systemd/system", &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    for (const char* file : kUnitFiles)
        if (::access(file, F_OK) == 0)
            return true;
    return false;
}

bool Reachable() {
    Bus bus;
    return bus.Open() && Succeed();
}

bool Install(const std::string& name, const std::string& program) {
    Bus bus;
    if (!bus.Open())
        return false;
    // Only the package's program runs as a system service, under the service's own name.
    const std::string own = Resolved(bus.Program());
    if (!ServiceName(name) || own.empty() || Resolved(program) != own)
        return Fail(ERROR_ACCESS_DENIED);
    if (!CreateMarker())
        return false;
    Message reply;
    if (!Enabled(bus) && !bus.CallManager("EnableUnitFiles", reply, "asbb", 1, kUnitName, 0, 0)) {
        const DWORD error = GetLastError();
        RemoveMarker();
        return Fail(error);
    }
    return Succeed();
}

bool Installed(const std::string& name) {
    Bus bus;
    if (!bus.Open())
        return false;
    if (!ServiceName(name))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    const DWORD error = MarkerError();
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

bool Query(SERVICE_STATUS& status) {
    Bus bus;
    if (!bus.Open())
        return false;
    status = CurrentStatus(bus);
    return Succeed();
}

bool Start() {
    Bus bus;
    if (!bus.Open())
        return false;
    SERVICE_STATUS status = CurrentStatus(bus);
    if (status.dwCurrentState != SERVICE_STOPPED)
        return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    // The unit's start limit is for its restarts after failures; a start that someone asks for
    // is never refused for the starts before it (reset-failed also resets that count).
    Message reset;
    if (!bus.CallManager("ResetFailedUnit", reset, "s", kUnitName))
        return false;
    if (!RunJob(bus, "StartUnit", status))
        return false;
    if (status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_PAUSED)
        return Succeed();
    return Fail(bus.Property(kServiceInterface, "Result") == "timeout" ? ERROR_SERVICE_REQUEST_TIMEOUT
                                                                       : ERROR_PROCESS_ABORTED);
}

bool Control(DWORD control, SERVICE_STATUS& status) {
    Bus bus;
    if (!bus.Open())
        return false;
    status = CurrentStatus(bus);
    if (control == SERVICE_CONTROL_INTERROGATE)
        return Succeed();
    if (status.dwCurrentState == SERVICE_STOPPED)
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        return StopUnit(bus, status);
    case SERVICE_CONTROL_PAUSE:
        return SignalUnit(bus, SIGUSR1, SERVICE_PAUSED, status);
    case SERVICE_CONTROL_CONTINUE:
        return SignalUnit(bus, SIGUSR2, SERVICE_RUNNING, status);
    default:
        return Fail(ERROR_INVALID_SERVICE_CONTROL);
    }
}

bool Remove() {
    Bus bus;
    if (!bus.Open())
        return false;
    SERVICE_STATUS status = CurrentStatus(bus);
    if (status.dwCurrentState != SERVICE_STOPPED && !StopUnit(bus, status))
        return false;
    return RemoveMarker() && Succeed();
}

bool Config(SERVICE_CONFIG& config) {
    Bus bus;
    if (!bus.Open())
        return false;
    const ServiceIdentity identity;
    config.ServiceName = identity.name;
    config.DisplayName = Utf8ToLatin1(bus.Property(kUnitInterface, "Description"));
    config.BinaryPathName = bus.Program();
    config.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    config.dwStartType = Enabled(bus) && MarkerPresent() ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    config.dwErrorControl = SERVICE_ERROR_NORMAL;
    return Succeed();
}

bool StopReason(std::string& reason) {
    Bus bus;
    if (!bus.Open())
        return false;
    reason.clear();
    if (bus.Property(kUnitInterface, "ActiveState") == "failed")
        reason = std::string(kUnitName) + " ist fehlgeschlagen (" +
                 bus.Property(kServiceInterface, "Result") + "), siehe journalctl -u pelorix";
    return Succeed();
}

bool List(std::vector<ENUM_SERVICE_STATUS>& services) {
    Bus bus;
    if (!bus.Open())
        return false;
    services.clear();
    if (MarkerPresent())
        services.push_back({ServiceIdentity{}.name, Utf8ToLatin1(bus.Property(kUnitInterface, "Description")),
                            CurrentStatus(bus)});
    return Succeed();
}

} // namespace pelorix::scm::systemd
