#include "scm/ServiceControl.h"

#include "base/Latin1.h"
#include "platform/ChildProcess_posix.h"
#include "platform/CleanEnvironment_posix.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"
#include "scm/ProgramTrust.h"
#include "scm/ServiceApp.h"
#include "scm/ServiceDatabase.h"
#include "scm/SystemdUnit.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace pelorix::scm {

struct ScHandleData {
    bool isService = false;
    std::string dir;
    DWORD access = 0;
    std::string name;     // services only: the recorded name
    bool systemd = false; // the calls go to systemd's unit (SystemdUnit.h)
};

namespace {

// How long a start may take to report start pending, and a control request to be handled.
constexpr int kStartReportMs = 30000;
constexpr int kControlReplyMs = 30000;
// How long a stopped service's process may take to end after it reported stopped (the service
// gives a stage under way a few seconds).
constexpr int kProcessEndMs = 30000;
constexpr int kPollMs = 10;

thread_local DWORD tLastError = ERROR_SUCCESS;

// Every handle handed out, so a stale or foreign pointer is refused instead of followed.
std::mutex gHandlesMutex;
std::set<ScHandleData*> gHandles;

// Rights that change the database or the service and so need write permission on it.
constexpr DWORD kManagerReadRights = SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE |
                                     SC_MANAGER_QUERY_LOCK_STATUS | 0x00020000 /* READ_CONTROL */;
constexpr DWORD kServiceReadRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                     SERVICE_ENUMERATE_DEPENDENTS | 0x00020000 /* READ_CONTROL */;

bool Fail(DWORD error) {
    tLastError = error;
    return false;
}

SC_HANDLE FailHandle(DWORD error) {
    tLastError = error;
    return nullptr;
}

bool Succeed() {
    tLastError = ERROR_SUCCESS;
    return true;
}

SC_HANDLE NewHandle(ScHandleData data) {
    auto* handle = new ScHandleData(std::move(data));
    std::lock_guard lock(gHandlesMutex);
    gHandles.insert(handle);
    tLastError = ERROR_SUCCESS;
    return handle;
}

// The handle when it is a live one of the wanted kind.
ScHandleData* Lookup(SC_HANDLE handle, bool service) {
    std::lock_guard lock(gHandlesMutex);
    if (!handle || !gHandles.contains(handle) || handle->isService != service)
        return nullptr;
    return handle;
}

bool DirAccess(const std::string& dir, int mode) {
    return faccessat(AT_FDCWD, dir.c_str(), mode, AT_EACCESS) == 0;
}

bool CanWrite(const std::string& dir) {
    return DirAccess(dir, W_OK | X_OK);
}

DWORD FromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case EWOULDBLOCK:
        return ERROR_SERVICE_DATABASE_LOCKED;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// Creates the directory and any missing parents (mode 0755 before the umask).
bool MakeDirectories(const std::string& dir) {
    for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Marked(const std::string& dir, const std::string& name) {
    return access(db::DeletedPath(dir, name).c_str(), F_OK) == 0;
}

// What the service last reported, or stopped when its process is gone.
SERVICE_STATUS CurrentStatus(const std::string& dir, const std::string& name, bool* alive = nullptr) {
    SERVICE_STATUS status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    if (const auto record = db::LoadRecord(dir, name))
        status.dwServiceType = record->type;
    const auto reported = db::LoadStatus(dir, name);
    const bool running = reported && db::Alive(*reported);
    if (alive)
        *alive = running;
    if (!running || reported->state == SERVICE_STOPPED) {
        // Why it last stopped or could not start, as the service or the control layer recorded.
        if (reported && reported->state == SERVICE_STOPPED)
            status.dwWin32ExitCode = reported->exitCode;
        return status;
    }
    status.dwCurrentState = reported->state;
    status.dwControlsAccepted = reported->controlsAccepted;
    status.dwWin32ExitCode = reported->exitCode;
    status.dwCheckPoint = reported->checkPoint;
    status.dwWaitHint = reported->waitHint;
    return status;
}

// A service marked for deletion goes once it has stopped (also when it ended without
// saying so). True when it is gone.
bool FinishDeletion(const std::string& dir, const std::string& name) {
    if (!Marked(dir, name) || !CanWrite(dir))
        return false;
    db::Lock lock(dir, name);
    if (!lock.Held() || CurrentStatus(dir, name).dwCurrentState != SERVICE_STOPPED)
        return false;
    db::RemoveAll(dir, name);
    return true;
}

// ---- Starting the program ----

// Records in the service's status why it was not started, for whoever queries it later.
void RecordRefusal(const std::string& dir, const std::string& name, DWORD error, const std::string& reason) {
    db::Status status;
    status.state = SERVICE_STOPPED;
    status.exitCode = error;
    status.note = reason;
    db::SaveStatus(dir, name, status);
}

// Starts the program at path detached (own session, no parent to reap it), as the caller;
// pid of the service process, or 0 with the error number set.
long Launch(const std::string& dir, const db::Record& record, std::string path) {
    const auto slash = path.rfind('/');
    const std::string workDir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));

    // Nothing of the starter's environment but what every service gets; the database's two
    // names are this start's own.
    std::vector<std::string> envStrings;
    for (std::string& entry : CleanEnvironment(environ))
        if (entry.rfind(std::string(db::kDirVariable) + "=", 0) != 0 &&
            entry.rfind(std::string(db::kServiceVariable) + "=", 0) != 0)
            envStrings.push_back(std::move(entry));
    envStrings.push_back(std::string(db::kDirVariable) + "=" + dir);
    envStrings.push_back(std::string(db::kServiceVariable) + "=" + record.name);
    ChildSetup setup;
    setup.Program = path;
    setup.Arguments = {path};
    setup.Environment = std::move(envStrings);
    setup.WorkDir = workDir;
    setup.Error = ChildStream::Null;
    // A service started by one administrator writes files (its log, the pages) that the others
    // in the database's group must be able to append to and replace; the files holding
    // passwords are created with their own narrow modes.
    setup.Umask = 002;
    int error = 0;
    const pid_t pid = StartDetached(setup, error);
    if (pid == 0)
        Fail(FromErrno(error));
    return pid;
}

// Waits until the new process has reported; false with the error number set when it ended
// or took too long (then it is ended).
bool AwaitStartReport(const std::string& dir, const std::string& name, long pid) {
    const Deadline deadline = Deadline::In(SystemClock::Instance(), kStartReportMs);
    for (;;) {
        const auto reported = db::LoadStatus(dir, name);
        if (reported && reported->pid == pid && reported->state != 0)
            return true;
        if (!db::ProcessStartTime(pid)) {
            const auto last = db::LoadStatus(dir, name);
            if (last && last->pid == pid)
                return true;
            return Fail(ERROR_PROCESS_ABORTED);
        }
        if (deadline.Passed()) {
            kill(static_cast<pid_t>(pid), SIGKILL);
            return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

// Why root must not run the program, or empty. Root starts only the service program, and only
// a copy that nobody else could have written: that program leaves root for its account itself,
// before it reads anything others may write (ServiceProcess.h), where any other program would
// go on as root with a record that members wrote.
std::string RootRefusal(const ProgramTrust& trust) {
    if (!trust.trusted)
        return trust.reason;
    const std::string program = ServiceIdentity{}.program;
    const auto slash = trust.resolvedPath.rfind('/');
    if (trust.resolvedPath.substr(slash == std::string::npos ? 0 : slash + 1) != program)
        return trust.resolvedPath + " ist nicht das Dienstprogramm " + program;
    return {};
}

// False with the error number set, and the reason recorded in the service's status, when root
// must not start the record's program; else program is the file to start.
bool PrepareRootStart(const std::string& dir, const db::Record& record, std::string& program) {
    const ProgramTrust trust = CheckProgramTrust(record.path);
    if (trust.error != 0)
        return Fail(FromErrno(trust.error));
    if (const std::string refusal = RootRefusal(trust); !refusal.empty()) {
        RecordRefusal(dir, record.name, ERROR_ACCESS_DENIED, refusal);
        return Fail(ERROR_ACCESS_DENIED);
    }
    program = trust.resolvedPath;
    return true;
}

// ---- Control requests ----

// A stop is done when the process has ended, not when it said so: a start right after would
// otherwise meet the old process still at work in the same program directory.
void AwaitProcessEnd(const db::Status& reported) {
    const Deadline deadline = Deadline::In(SystemClock::Instance(), kProcessEndMs);
    while (db::Alive(reported) && !deadline.Passed())
        SystemSleeper::Instance().SleepMs(kPollMs);
}

bool ParseReply(const std::string& line, DWORD& error, SERVICE_STATUS& status) {
    std::istringstream in(line);
    return static_cast<bool>(in >> error >> status.dwCurrentState >> status.dwControlsAccepted >>
                             status.dwWin32ExitCode >> status.dwCheckPoint >> status.dwWaitHint);
}

DWORD RightFor(DWORD control) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE:
        return SERVICE_INTERROGATE;
    default:
        return 0;
    }
}

// Sends one request over the service's socket; the reply fills status.
bool SendControl(const std::string& dir, const std::string& name, DWORD control, SERVICE_STATUS& status) {
    const std::string path = db::SocketPath(dir, name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Only the service's own socket, never one a link in the database points at.
    struct stat entry {};
    if (lstat(path.c_str(), &entry) == 0 && !S_ISSOCK(entry.st_mode))
        return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    db::Fd socketFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socketFd.Valid())
        return Fail(ERROR_ACCESS_DENIED);
    if (connect(socketFd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == EACCES || errno == EPERM)
            return Fail(ERROR_ACCESS_DENIED);
        bool alive = false;
        status = CurrentStatus(dir, name, &alive);
        return Fail(alive ? ERROR_SERVICE_CANNOT_ACCEPT_CTRL : ERROR_SERVICE_NOT_ACTIVE);
    }
    if (!db::SendLine(socketFd.Get(), std::to_string(control)))
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    const auto reply = db::ReceiveLine(socketFd.Get(), kControlReplyMs);
    DWORD error = ERROR_SUCCESS;
    SERVICE_STATUS replied = status;
    if (!reply || !ParseReply(*reply, error, replied)) {
        bool alive = false;
        status = CurrentStatus(dir, name, &alive);
        // A service that ended while handling a stop has done what was asked.
        if (!alive && RightFor(control) == SERVICE_STOP)
            return Succeed();
        return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
    }
    status = replied;
    return error == ERROR_SUCCESS ? Succeed() : Fail(error);
}

} // namespace

DWORD GetLastError() {
    return tLastError;
}

void SetLastError(DWORD error) {
    tLastError = error;
}

std::string ErrorText(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS:
        return "Der Vorgang wurde erfolgreich beendet."_l1;
    case ERROR_FILE_NOT_FOUND:
        return "Das System kann die angegebene Datei nicht finden."_l1;
    case ERROR_ACCESS_DENIED:
        return "Zugriff verweigert"_l1;
    case ERROR_INVALID_HANDLE:
        return "Das Handle ist ungültig."_l1;
    case ERROR_INVALID_PARAMETER:
        return "Falscher Parameter."_l1;
    case ERROR_INVALID_NAME:
        return "Die Syntax für den Dateinamen, Verzeichnisnamen oder die Datenträgerbezeichnung ist falsch."_l1;
    case ERROR_BAD_EXE_FORMAT:
        return "Die Datei ist kein ausführbares Programm."_l1;
    case ERROR_INVALID_SERVICE_CONTROL:
        return "Die angeforderte Steuerung ist für diesen Dienst nicht gültig."_l1;
    case ERROR_SERVICE_REQUEST_TIMEOUT:
        return "Der Dienst antwortete nicht rechtzeitig auf die Start- oder Steuerungsanforderung."_l1;
    case ERROR_SERVICE_DATABASE_LOCKED:
        return "Die Dienstdatenbank ist gesperrt."_l1;
    case ERROR_SERVICE_ALREADY_RUNNING:
        return "Eine Instanz des Dienstes wird bereits ausgeführt."_l1;
    case ERROR_SERVICE_DISABLED:
        return "Der angegebene Dienst kann nicht gestartet werden. Er ist deaktiviert."_l1;
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return "Der angegebene Dienst ist kein installierter Dienst."_l1;
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
        return "Der Dienst kann zurzeit keine Steuerungsmeldungen annehmen."_l1;
    case ERROR_SERVICE_NOT_ACTIVE:
        return "Der Dienst wurde nicht gestartet."_l1;
    case ERROR_DATABASE_DOES_NOT_EXIST:
        return "Die angegebene Datenbank existiert nicht."_l1;
    case ERROR_PROCESS_ABORTED:
        return "Der Prozess wurde unerwartet beendet."_l1;
    case ERROR_SERVICE_LOGON_FAILED:
        return "Der Dienst konnte wegen einer fehlgeschlagenen Anmeldung nicht gestartet werden."_l1;
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        return "Der angegebene Dienst wurde zum Löschen markiert."_l1;
    case ERROR_SERVICE_EXISTS:
        return "Der angegebene Dienst ist bereits vorhanden."_l1;
    case ERROR_RPC_SERVER_UNAVAILABLE:
        return "Der RPC-Server ist nicht verfügbar."_l1;
    default:
        return "Unbekannter Systemfehler (Fehlercode "_l1 + std::to_string(error) + ").";
    }
}

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "STOPPED";
    case SERVICE_START_PENDING:
        return "START_PENDING";
    case SERVICE_STOP_PENDING:
        return "STOP_PENDING";
    case SERVICE_RUNNING:
        return "RUNNING";
    case SERVICE_CONTINUE_PENDING:
        return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
        return "PAUSE_PENDING";
    case SERVICE_PAUSED:
        return "PAUSED";
    default:
        return "UNKNOWN";
    }
}

SC_HANDLE OpenSCManagerA(const char* machineName, const char* databaseName, DWORD desiredAccess) {
    if (machineName && *machineName)
        return FailHandle(ERROR_INVALID_PARAMETER);
    if (databaseName && *databaseName && std::strcmp(databaseName, "ServicesActive") != 0)
        return FailHandle(ERROR_DATABASE_DOES_NOT_EXIST);
    // Under systemd polkit decides each call; only an unreachable service manager fails here.
    if (systemd::Drives())
        return systemd::Reachable() ? NewHandle({false, {}, desiredAccess, {}, true}) : nullptr;
    const std::string dir = db::Directory();
    const bool wantsWrite = (desiredAccess & ~kManagerReadRights) != 0;
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        // A missing database is created by whoever may; to others it is simply empty.
        if (!MakeDirectories(dir) && wantsWrite)
            return FailHandle(ERROR_ACCESS_DENIED);
    } else if (!DirAccess(dir, R_OK | X_OK) || (wantsWrite && !CanWrite(dir))) {
        return FailHandle(ERROR_ACCESS_DENIED);
    }
    return NewHandle({false, dir, desiredAccess, {}, false});
}

SC_HANDLE CreateServiceA(SC_HANDLE scManager, const char* serviceName, const char* displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType, DWORD errorControl,
                         const char* binaryPathName, const char* loadOrderGroup, DWORD* tagId,
                         const char* dependencies, const char* serviceStartName, const char* password) {
    const ScHandleData* manager = Lookup(scManager, false);
    if (!manager)
        return FailHandle(ERROR_INVALID_HANDLE);
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE))
        return FailHandle(ERROR_ACCESS_DENIED);
    if (!serviceName || !db::ValidName(serviceName))
        return FailHandle(ERROR_INVALID_NAME);
    const bool unsupported =
        (loadOrderGroup && *loadOrderGroup) || tagId || (dependencies && *dependencies) ||
        (serviceStartName && *serviceStartName && std::strcmp(serviceStartName, "LocalSystem")) ||
        (password && *password);
    const bool badType =
        serviceType != SERVICE_WIN32_OWN_PROCESS && serviceType != SERVICE_WIN32_SHARE_PROCESS;
    const bool badStart = startType < SERVICE_AUTO_START || startType > SERVICE_DISABLED;
    if (unsupported || badType || badStart || errorControl > 3 || !binaryPathName || !*binaryPathName)
        return FailHandle(ERROR_INVALID_PARAMETER);

    if (manager->systemd)
        return systemd::Install(serviceName, binaryPathName)
                   ? NewHandle({true, {}, desiredAccess, ServiceIdentity{}.name, true})
                   : nullptr;
    db::Record record{serviceName,    displayName && *displayName ? displayName : serviceName,
                      binaryPathName, serviceType,
                      startType,      errorControl};
    const std::string& dir = manager->dir;
    db::Lock lock(dir, record.name);
    if (!lock.Held())
        return FailHandle(FromErrno(errno));
    if (db::LoadRecord(dir, record.name)) {
        if (!Marked(dir, record.name))
            return FailHandle(ERROR_SERVICE_EXISTS);
        if (CurrentStatus(dir, record.name).dwCurrentState != SERVICE_STOPPED)
            return FailHandle(ERROR_SERVICE_MARKED_FOR_DELETE);
        db::RemoveAll(dir, record.name); // its deletion was due
    }
    if (!db::SaveRecord(dir, record))
        return FailHandle(record.displayName.find_first_of("\r\n") != std::string::npos ||
                                  record.path.find_first_of("\r\n") != std::string::npos
                              ? ERROR_INVALID_PARAMETER
                              : FromErrno(errno));
    return NewHandle({true, dir, desiredAccess, record.name, false});
}

SC_HANDLE OpenServiceA(SC_HANDLE scManager, const char* serviceName, DWORD desiredAccess) {
    const ScHandleData* manager = Lookup(scManager, false);
    if (!manager)
        return FailHandle(ERROR_INVALID_HANDLE);
    if (!serviceName || !*serviceName)
        return FailHandle(ERROR_INVALID_NAME);
    if (manager->systemd)
        return systemd::Installed(serviceName)
                   ? NewHandle({true, {}, desiredAccess, ServiceIdentity{}.name, true})
                   : nullptr;
    if (!db::ValidName(serviceName))
        return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
    const std::string& dir = manager->dir;
    const auto record = db::LoadRecord(dir, serviceName);
    if (!record)
        return FailHandle(ERROR_SERVICE_DOES_NOT_EXIST);
    if (Marked(dir, record->name))
        return FailHandle(FinishDeletion(dir, record->name) ? ERROR_SERVICE_DOES_NOT_EXIST
                                                            : ERROR_SERVICE_MARKED_FOR_DELETE);
    if ((desiredAccess & ~kServiceReadRights) != 0 && !CanWrite(dir))
        return FailHandle(ERROR_ACCESS_DENIED);
    return NewHandle({true, dir, desiredAccess, record->name, false});
}

bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    const ScHandleData* handle = Lookup(service, true);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(handle->access & SERVICE_QUERY_STATUS))
        return Fail(ERROR_ACCESS_DENIED);
    if (!status)
        return Fail(ERROR_INVALID_PARAMETER);
    if (handle->systemd)
        return systemd::Query(*status);
    *status = CurrentStatus(handle->dir, handle->name);
    return Succeed();
}

bool StartServiceA(SC_HANDLE service, DWORD /*numArgs*/, const char** /*args*/) {
    const ScHandleData* handle = Lookup(service, true);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(handle->access & SERVICE_START))
        return Fail(ERROR_ACCESS_DENIED);
    if (handle->systemd)
        return systemd::Start();
    const std::string& dir = handle->dir;
    db::Lock lock(dir, handle->name);
    if (!lock.Held())
        return Fail(FromErrno(errno));
    const auto record = db::LoadRecord(dir, handle->name);
    if (!record || Marked(dir, handle->name))
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (record->startType == SERVICE_DISABLED)
        return Fail(ERROR_SERVICE_DISABLED);
    if (CurrentStatus(dir, handle->name).dwCurrentState != SERVICE_STOPPED)
        return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    std::string program = record->path;
    if (geteuid() == 0 && !PrepareRootStart(dir, *record, program))
        return false;
    const long pid = Launch(dir, *record, program);
    return pid != 0 && AwaitStartReport(dir, handle->name, pid) && Succeed();
}

bool ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) {
    const ScHandleData* handle = Lookup(service, true);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    const DWORD right = RightFor(control);
    if (right == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!(handle->access & right))
        return Fail(ERROR_ACCESS_DENIED);
    if (handle->systemd) {
        SERVICE_STATUS reached;
        const bool done = systemd::Control(control, reached);
        if (status)
            *status = reached;
        return done;
    }
    SERVICE_STATUS current = CurrentStatus(handle->dir, handle->name);
    const auto process = db::LoadStatus(handle->dir, handle->name);
    bool ok = false;
    if (current.dwCurrentState == SERVICE_STOPPED)
        ok = Fail(ERROR_SERVICE_NOT_ACTIVE);
    else
        ok = SendControl(handle->dir, handle->name, control, current);
    const DWORD error = tLastError;
    if (ok && current.dwCurrentState == SERVICE_STOPPED && process)
        AwaitProcessEnd(*process);
    if (status)
        *status = current;
    if (ok && current.dwCurrentState == SERVICE_STOPPED)
        FinishDeletion(handle->dir, handle->name);
    tLastError = error;
    return ok;
}

bool DeleteService(SC_HANDLE service) {
    const ScHandleData* handle = Lookup(service, true);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(handle->access & DELETE_ACCESS))
        return Fail(ERROR_ACCESS_DENIED);
    if (handle->systemd)
        return systemd::Remove();
    const std::string& dir = handle->dir;
    db::Lock lock(dir, handle->name);
    if (!lock.Held())
        return Fail(FromErrno(errno));
    if (!db::LoadRecord(dir, handle->name))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (Marked(dir, handle->name))
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (CurrentStatus(dir, handle->name).dwCurrentState == SERVICE_STOPPED) {
        db::RemoveAll(dir, handle->name);
        return Succeed();
    }
    // The service removes its record itself when it reports stopped (ServiceChannel).
    if (!db::WriteAtomically(db::DeletedPath(dir, handle->name), "1\n"))
        return Fail(FromErrno(errno));
    return Succeed();
}

bool CloseServiceHandle(SC_HANDLE handle) {
    {
        std::lock_guard lock(gHandlesMutex);
        if (!handle || gHandles.erase(handle) == 0)
            return Fail(ERROR_INVALID_HANDLE);
    }
    delete handle;
    return Succeed();
}

bool QueryServiceConfigA(SC_HANDLE service, SERVICE_CONFIG* config) {
    const ScHandleData* handle = Lookup(service, true);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(handle->access & SERVICE_QUERY_CONFIG))
        return Fail(ERROR_ACCESS_DENIED);
    if (!config)
        return Fail(ERROR_INVALID_PARAMETER);
    if (handle->systemd)
        return systemd::Config(*config);
    const auto record = db::LoadRecord(handle->dir, handle->name);
    if (!record)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    *config = {record->name, record->displayName, record->path,
               record->type, record->startType,   record->errorControl};
    return Succeed();
}

bool QueryServiceStopReason(SC_HANDLE service, std::string* reason) {
    const ScHandleData* handle = Lookup(service, true);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(handle->access & SERVICE_QUERY_STATUS))
        return Fail(ERROR_ACCESS_DENIED);
    if (!reason)
        return Fail(ERROR_INVALID_PARAMETER);
    if (handle->systemd)
        return systemd::StopReason(*reason);
    reason->clear();
    const auto reported = db::LoadStatus(handle->dir, handle->name);
    if (reported && reported->state == SERVICE_STOPPED)
        *reason = reported->note;
    return Succeed();
}

bool EnumServicesStatusA(SC_HANDLE scManager, std::vector<ENUM_SERVICE_STATUS>* services) {
    const ScHandleData* manager = Lookup(scManager, false);
    if (!manager)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(manager->access & SC_MANAGER_ENUMERATE_SERVICE))
        return Fail(ERROR_ACCESS_DENIED);
    if (!services)
        return Fail(ERROR_INVALID_PARAMETER);
    if (manager->systemd)
        return systemd::List(*services);
    services->clear();
    for (const auto& name : db::ListNames(manager->dir)) {
        if (Marked(manager->dir, name)) {
            FinishDeletion(manager->dir, name);
            continue;
        }
        const auto record = db::LoadRecord(manager->dir, name);
        if (record)
            services->push_back({record->name, record->displayName, CurrentStatus(manager->dir, name)});
    }
    return Succeed();
}

void ScHandle::Reset(SC_HANDLE handle) {
    if (handle_) {
        // Closing must not hide the error of the call the caller is about to report.
        const DWORD error = tLastError;
        CloseServiceHandle(handle_);
        tLastError = error;
    }
    handle_ = handle;
}

} // namespace pelorix::scm
