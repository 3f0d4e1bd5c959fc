#include "scm/ProgramTrust.h"

#include "platform/RootOnlyPath_posix.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace pelorix {

ProgramTrust CheckProgramTrust(const std::string& path) {
    ProgramTrust result;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        result.error = errno;
        return result;
    }
    result.resolvedPath = resolved;
    const RootOnlyCheck check = CheckRootOnly(result.resolvedPath);
    result.error = check.error;
    result.reason = check.reason;
    result.trusted = check.Sound();
    return result;
}

} // namespace pelorix
