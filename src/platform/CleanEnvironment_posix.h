#pragma once
// POSIX only: the environment the service, its helpers and the command after a publication run
// with. Of whoever started them it keeps the search path, the locale (LANG, LANGUAGE, LC_*),
// who they are (HOME, USER, LOGNAME) and this system's own PELORIX_ settings; nothing else, so
// no secret exported in root's shell reaches a process that members' settings steer.

#include <string>
#include <vector>

namespace pelorix {

// The account a process changes to: HOME, USER and LOGNAME then name it instead of the starter.
struct EnvironmentAccount {
    std::string Name;
    std::string Home;
};

// NAME=VALUE entries of from (an environ-style list) that are kept, in their order; with an
// account its three entries come last instead of the starter's.
std::vector<std::string> CleanEnvironment(const char* const* from,
                                          const EnvironmentAccount* account = nullptr);

} // namespace pelorix
