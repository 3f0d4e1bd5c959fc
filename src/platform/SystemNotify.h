#pragma once
// The readiness and status messages a service sends to the system's service manager (systemd)
// when that started it: one datagram of "KEY=value" lines to the socket named in
// NOTIFY_SOCKET (a path, or "@name" for the abstract namespace). Without that variable
// nothing is sent.

#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

// True when the service manager asked for such messages.
bool SystemNotifyWanted();

// Sends the lines (UTF-8, e.g. "READY=1\nSTATUS=..."); false when nothing wanted them or the
// socket did not take them.
bool NotifySystem(std::string_view lines);

// True when standard error goes to the system journal (the service manager set JOURNAL_STREAM).
bool StandardErrorToJournal();

// NAME=VALUE of the variables above that the service manager set for this process: a service
// that sheds its starter's environment keeps these, for they are how it talks to the manager.
std::vector<std::string> ServiceManagerEnvironment();

} // namespace pelorix
