#include "platform/RootOnlyPath_posix.h"

#include "base/Latin1.h"
#include "platform/FileSystemName.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>

namespace pelorix {

namespace {

constexpr int kMaxLinks = 40; // as the system's own limit on links in one look-up

// Why root must not rely on the entry at path, or empty when it is sound. A link's own mode
// means nothing; who owns it and where it lies does.
std::string DoubtAbout(const std::string& path, const struct stat& st) {
    if (st.st_uid != 0)
        return SystemTextOfName(path) + " gehört nicht root"_l1;
    // Group root is root's own: a file root keeps at 0660 (the manager's Pelorix.ini) is sound.
    const bool groupWrites = (st.st_mode & S_IWGRP) != 0 && st.st_gid != 0;
    const bool othersWrite = groupWrites || (st.st_mode & S_IWOTH) != 0;
    const bool stickyDirectory = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
    if (othersWrite && !stickyDirectory && !S_ISLNK(st.st_mode))
        return SystemTextOfName(path) + " ist für Gruppe oder andere beschreibbar"_l1;
    return {};
}

void Split(const std::string& path, std::deque<std::string>& parts, bool inFront) {
    std::deque<std::string> found;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const std::string part =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty() && part != ".")
            found.push_back(part);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    if (inFront)
        parts.insert(parts.begin(), found.begin(), found.end());
    else
        parts.insert(parts.end(), found.begin(), found.end());
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

std::string Parent(const std::string& dir) {
    const auto slash = dir.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : dir.substr(0, slash);
}

std::string LinkText(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

} // namespace

RootOnlyCheck CheckRootOnly(const std::string& path, bool followLast) {
    RootOnlyCheck result;
    std::deque<std::string> pending;
    if (path.empty() || path.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            result.error = errno;
            return result;
        }
        Split(cwd, pending, false);
    }
    Split(path, pending, false);
    std::string current = "/";
    struct stat st {};
    if (::lstat("/", &st) != 0) {
        result.error = errno;
        return result;
    }
    result.reason = DoubtAbout(current, st);
    int links = 0;
    while (result.reason.empty() && !pending.empty()) {
        const std::string part = pending.front();
        pending.pop_front();
        if (part == "..") {
            current = Parent(current); // current never holds a link, so this is its real parent
            continue;
        }
        const std::string next = Join(current, part);
        if (::lstat(next.c_str(), &st) != 0) {
            result.error = errno;
            result.resolvedPath = next;
            return result;
        }
        result.reason = DoubtAbout(next, st);
        if (S_ISLNK(st.st_mode) && (followLast || !pending.empty())) {
            const std::string target = LinkText(next);
            if (target.empty() || ++links > kMaxLinks) {
                result.error = target.empty() ? errno : ELOOP;
                return result;
            }
            if (target.front() == '/')
                current = "/";
            Split(target, pending, true);
            continue;
        }
        current = next;
    }
    result.resolvedPath = current;
    return result;
}

std::string EntryToUse(const std::string& path) {
    if (::geteuid() != 0)
        return path;
    std::string entry = path;
    for (int links = 0; links < kMaxLinks; ++links) {
        struct stat st {};
        if (::lstat(entry.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || !CheckRootOnly(entry, false).Sound())
            return entry;
        const std::string target = LinkText(entry);
        if (target.empty())
            return entry;
        const auto slash = entry.rfind('/');
        entry = target.front() == '/' || slash == std::string::npos ? target
                                                                    : entry.substr(0, slash + 1) + target;
    }
    return entry;
}

int OpenEntry(const std::string& path, int flags, mode_t mode) {
    if (::geteuid() != 0)
        return ::open(path.c_str(), flags, mode);
    return ::open(EntryToUse(path).c_str(), flags | O_NOFOLLOW, mode);
}

} // namespace pelorix
