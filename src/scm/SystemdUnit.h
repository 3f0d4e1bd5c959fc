#pragma once
// The service control calls (ServiceControl) where systemd is the system's service manager and
// the package's unit pelorix.service is installed: the publishing service is that unit, and
// the calls go to systemd over D-Bus. Start and stop return once systemd's job is done
// (stopped: the process has ended); pause and continue are the signals SIGUSR1 and SIGUSR2
// sent through systemd, which the service confirms in its status text. Polkit decides who may:
// members of the group pelorix for this unit only, by the package's rule. libsystemd is loaded
// when the first call needs it, so a program that never controls a service does not carry it.
// Each call that fails sets the error number (SetLastError).
//
// Installed means the file kInstalledMarker exists: the package enables the unit, whose
// condition lets it start only while the file is there. polkit cannot limit the enabling of
// unit files to one unit (systemd names no unit for that action), and a rule that let the
// group enable any unit would give its members root; the group may write the marker's
// directory instead. Root also enables the unit when an administrator had disabled it.

#include "scm/ServiceControl.h"

#include <string>
#include <vector>

namespace pelorix::scm::systemd {

inline constexpr const char* kUnitName = "pelorix.service";
// As the unit's ConditionPathExists= names it.
inline constexpr const char* kInstalledMarker = "/var/lib/pelorix/services/pelorix.service.installed";

// True when systemd runs as init, the unit file is installed and no service database of our
// own was named (PELORIX_SCM_DIR, as the tests do).
bool Drives();

// Whether the service manager can be reached at all (ERROR_RPC_SERVER_UNAVAILABLE if not).
bool Reachable();
// Installs the unit for the named service and program: only the unit's own program under the
// service's name (ERROR_ACCESS_DENIED otherwise), and ERROR_SERVICE_EXISTS when installed.
bool Install(const std::string& name, const std::string& program);
// True when the name is the unit's service and it is installed.
bool Installed(const std::string& name);
bool Query(SERVICE_STATUS& status);
bool Start();
bool Control(DWORD control, SERVICE_STATUS& status);
// Stops the service when it runs and uninstalls it.
bool Remove();
bool Config(SERVICE_CONFIG& config);
bool StopReason(std::string& reason);
bool List(std::vector<ENUM_SERVICE_STATUS>& services);

} // namespace pelorix::scm::systemd
