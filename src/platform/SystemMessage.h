#pragma once
// German message texts for system error codes, standing in for the system's own message
// table: the manager shows them when a file operation fails.

#include <string>

namespace pelorix {

// The text for an errno value, Latin-1, ending with a period.
std::string SystemErrorText(int errnoValue);

// An errno value only this system has, as the one of every system it shares its text with
// (a disk quota as a full disk); any other value as it stands.
int CommonErrno(int errnoValue);

} // namespace pelorix
