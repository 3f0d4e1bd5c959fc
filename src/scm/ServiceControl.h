#pragma once
// This platform's service control manager, standing in for the Windows one: the calls, access
// rights, states and error numbers keep their Windows names and meaning, so the manager's code
// reads as it would there. Each call that fails returns a null handle or false and leaves its
// error number for GetLastError() of the calling thread.
//
// The services live in one directory, the service database: one record file per service, and
// for a service that has been started its status file and its control socket (ServiceChannel).
// The directory is /var/lib/pelorix/services, or the one that PELORIX_SCM_DIR names. Whoever
// may write to that directory is this platform's administrator.
//
// Where systemd runs and the package's unit pelorix.service is installed, the calls control
// that unit instead (SystemdUnit.h), and the service database is not used.
//
// Without systemd a service runs as whoever starts it. Root starts only the service program
// (PelorixSvc), and only when its file and every directory above it belong to root and nobody
// else may write them; that program then leaves root for the system user pelorix itself
// (PELORIX_SCM_ACCOUNT names another account, for tests) before it reads its settings
// (ServiceProcess.h).

#include <cstdint>
#include <string>
#include <vector>

namespace pelorix::scm {

inline constexpr const char* kAccountVariable = "PELORIX_SCM_ACCOUNT";
inline constexpr const char* kDefaultAccount = "pelorix";

using DWORD = std::uint32_t;

// Error numbers, as on Windows.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr DWORD ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr DWORD ERROR_SERVICE_DATABASE_LOCKED = 1055;
inline constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr DWORD ERROR_SERVICE_DISABLED = 1058;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr DWORD ERROR_DATABASE_DOES_NOT_EXIST = 1065;
inline constexpr DWORD ERROR_PROCESS_ABORTED = 1067;
inline constexpr DWORD ERROR_SERVICE_LOGON_FAILED = 1069;
inline constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr DWORD ERROR_SERVICE_EXISTS = 1073;
inline constexpr DWORD ERROR_RPC_SERVER_UNAVAILABLE = 1722;

// Access rights of the manager handle.
inline constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
inline constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr DWORD SC_MANAGER_LOCK = 0x0008;
inline constexpr DWORD SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
inline constexpr DWORD SC_MANAGER_MODIFY_BOOT_CONFIG = 0x0020;
inline constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;
inline constexpr DWORD SC_MANAGER_ALL_ACCESS = 0x000F003F;

// Access rights of a service handle (DELETE_ACCESS is the standard right DELETE).
inline constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
inline constexpr DWORD SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
inline constexpr DWORD SERVICE_START = 0x0010;
inline constexpr DWORD SERVICE_STOP = 0x0020;
inline constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
inline constexpr DWORD SERVICE_INTERROGATE = 0x0080;
inline constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr DWORD DELETE_ACCESS = 0x00010000;
inline constexpr DWORD SERVICE_ALL_ACCESS = 0x000F01FF;

// Service types, start types, error control.
inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x20;
inline constexpr DWORD SERVICE_AUTO_START = 2;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_DISABLED = 4;
inline constexpr DWORD SERVICE_ERROR_IGNORE = 0;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;

// Control codes. SHUTDOWN is sent only by the boot tool at system shutdown: the service ends
// without calling its handlers.
inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
inline constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

// States.
inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;
inline constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
inline constexpr DWORD SERVICE_PAUSE_PENDING = 6;
inline constexpr DWORD SERVICE_PAUSED = 7;

// Controls a service accepts.
inline constexpr DWORD SERVICE_ACCEPT_STOP = 0x01;
inline constexpr DWORD SERVICE_ACCEPT_PAUSE_CONTINUE = 0x02;
inline constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 0x04;

struct SERVICE_STATUS {
    DWORD dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD dwCurrentState = SERVICE_STOPPED;
    DWORD dwControlsAccepted = 0;
    DWORD dwWin32ExitCode = ERROR_SUCCESS;
    DWORD dwServiceSpecificExitCode = 0;
    DWORD dwCheckPoint = 0;
    DWORD dwWaitHint = 0;
};

// A service's configuration as recorded.
struct SERVICE_CONFIG {
    std::string ServiceName;
    std::string DisplayName;
    std::string BinaryPathName;
    DWORD dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD dwStartType = SERVICE_DEMAND_START;
    DWORD dwErrorControl = SERVICE_ERROR_NORMAL;
};

// One entry of EnumServicesStatus.
struct ENUM_SERVICE_STATUS {
    std::string ServiceName;
    std::string DisplayName;
    SERVICE_STATUS ServiceStatus;
};

struct ScHandleData;
using SC_HANDLE = ScHandleData*;

// The error number of the last call of this thread that failed (0 after one that succeeded).
DWORD GetLastError();
void SetLastError(DWORD error);

// The German message text for an error number, Latin-1, as the system would show it.
std::string ErrorText(DWORD error);

// The state's name as administrators know it: STOPPED, START_PENDING, RUNNING …
const char* StateName(DWORD state);

// Opens the service database. machineName and databaseName must be empty or null (this
// computer, the active database). Rights beyond connecting, enumerating and querying the lock
// need write permission on the database: without it, ERROR_ACCESS_DENIED.
SC_HANDLE OpenSCManagerA(const char* machineName, const char* databaseName, DWORD desiredAccess);

// Records a new service. Load order group, tag, dependencies, account and password are not
// supported and must be null. ERROR_SERVICE_EXISTS when the name is taken.
SC_HANDLE CreateServiceA(SC_HANDLE scManager, const char* serviceName, const char* displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType, DWORD errorControl,
                         const char* binaryPathName, const char* loadOrderGroup = nullptr,
                         DWORD* tagId = nullptr, const char* dependencies = nullptr,
                         const char* serviceStartName = nullptr, const char* password = nullptr);

// Opens a recorded service (names compare without regard to letter case).
// ERROR_SERVICE_DOES_NOT_EXIST, or ERROR_SERVICE_MARKED_FOR_DELETE while it is being removed.
SC_HANDLE OpenServiceA(SC_HANDLE scManager, const char* serviceName, DWORD desiredAccess);

// The state the service last reported; a service whose process has ended is stopped.
bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);

// Starts the service's program detached from the caller and returns once it has reported
// start pending (ERROR_SERVICE_ALREADY_RUNNING when it runs). The arguments are not passed on.
// Started by root: ERROR_ACCESS_DENIED for a program someone else could have written,
// ERROR_SERVICE_LOGON_FAILED when the account is missing; the reason is recorded in the
// service's status (QueryServiceStopReason).
bool StartServiceA(SC_HANDLE service, DWORD numArgs, const char** args);

// Sends a control request and returns once the service has handled it, with the status it
// then reported. ERROR_SERVICE_NOT_ACTIVE when the service is not running.
bool ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);

// Removes the service: at once when it is stopped, else it is marked for deletion and
// removed when it stops.
bool DeleteService(SC_HANDLE service);

bool CloseServiceHandle(SC_HANDLE handle);

// Not Windows' signatures but their meaning: the configuration of an open service, and every
// recorded service (not those marked for deletion) in name order.
bool QueryServiceConfigA(SC_HANDLE service, SERVICE_CONFIG* config);
bool EnumServicesStatusA(SC_HANDLE scManager, std::vector<ENUM_SERVICE_STATUS>* services);
// Why a stopped service last stopped or could not start, in German (Latin-1), as recorded;
// empty when nothing was. Needs SERVICE_QUERY_STATUS.
bool QueryServiceStopReason(SC_HANDLE service, std::string* reason);

// Owns one handle of either kind and closes it.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    ~ScHandle() { Reset(); }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ScHandle(ScHandle&& other) noexcept : handle_(other.Release()) {}
    ScHandle& operator=(ScHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    SC_HANDLE Release() {
        SC_HANDLE h = handle_;
        handle_ = nullptr;
        return h;
    }
    void Reset(SC_HANDLE handle = nullptr);

private:
    SC_HANDLE handle_;
};

} // namespace pelorix::scm
