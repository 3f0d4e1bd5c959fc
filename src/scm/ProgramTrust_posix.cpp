#include "scm/ProgramTrust.h"

#include "base/Latin1.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

namespace pelorix {

namespace {

// Why root must not run what lies at path, or empty when the entry itself is sound.
std::string DoubtAbout(const std::string& path, const struct stat& st) {
    // The path as the file system names it; the texts around it are Latin-1.
    const std::string& shown = path;
    if (st.st_uid != 0)
        return shown + " gehört nicht root"_l1;
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    const bool stickyDirectory = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
    if (othersWrite && !stickyDirectory)
        return shown + " ist für Gruppe oder andere beschreibbar"_l1;
    return {};
}

// "/", "/opt", "/opt/pelorix", "/opt/pelorix/PelorixSvc" for an absolute path without links.
std::vector<std::string> PathFromRoot(const std::string& path) {
    std::vector<std::string> parts{"/"};
    for (auto slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        parts.push_back(path.substr(0, slash));
    if (path != "/")
        parts.push_back(path);
    return parts;
}

} // namespace

ProgramTrust CheckProgramTrust(const std::string& path) {
    ProgramTrust result;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        result.error = errno;
        return result;
    }
    result.resolvedPath = resolved;
    for (const auto& part : PathFromRoot(result.resolvedPath)) {
        struct stat st {};
        if (::lstat(part.c_str(), &st) != 0) {
            result.error = errno;
            return result;
        }
        result.reason = DoubtAbout(part, st);
        if (!result.reason.empty())
            return result;
    }
    result.trusted = result.reason.empty();
    return result;
}

} // namespace pelorix
