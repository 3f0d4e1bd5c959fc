#include "platform/FileReplace.h"

#include "platform/RootOnlyPath_posix.h"

#include <dirent.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace pelorix {

namespace {

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The rename is durable only once the directory entry is on disk too.
void SyncDirectory(const std::string& dir) {
    FileDescriptor fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0)
        ::fsync(fd.Get());
}

// The file the rename must replace: the target of a symbolic link rather than the link. Root
// follows only links nobody else could have planted; another link is replaced itself.
std::string ResolveTarget(const std::string& path) {
    if (::geteuid() == 0)
        return EntryToUse(path);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
}

mode_t SharedWithGroupIn(const std::string& dir, mode_t mode) {
    struct stat st {};
    if (::stat(dir.empty() ? "." : dir.c_str(), &st) == 0 && (st.st_mode & S_ISGID) != 0)
        mode |= (mode & 0700) >> 3;
    return mode;
}

// A new hidden file beside target, created with mode less the umask; fd < 0 (errno set) when
// none could be made.
int CreateTemporaryBeside(const std::string& target, mode_t mode, std::string& name) {
    static std::atomic<unsigned> counter{0};
    const std::string prefix = DirectoryOf(target) + "." + BaseNameOf(target) + ".";
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = prefix + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// ".NAME.PID-N.tmp", the form CreateTemporaryBeside gives.
bool IsTemporaryOf(const std::string& entry, const std::string& prefix) {
    constexpr std::string_view kSuffix = ".tmp";
    if (entry.size() <= prefix.size() + kSuffix.size() || entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.compare(entry.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return false;
    const std::string middle = entry.substr(prefix.size(), entry.size() - prefix.size() - kSuffix.size());
    const auto dash = middle.find('-');
    const auto digits = [](std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return dash != std::string::npos && digits(std::string_view(middle).substr(0, dash)) &&
           digits(std::string_view(middle).substr(dash + 1));
}

// now is the time stamp the file system gave the file just written, so no clock is read here.
void RemoveStaleTemporaries(const std::string& target, time_t now) {
    constexpr time_t kStaleSeconds = 3600;
    const std::string dir = DirectoryOf(target);
    const std::string prefix = "." + BaseNameOf(target) + ".";
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.empty() ? "." : dir.c_str()), &::closedir);
    if (!listing)
        return;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (IsTemporaryOf(name, prefix) && ::lstat((dir + name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < now - kStaleSeconds)
            ::unlink((dir + name).c_str());
    }
}

// Gives the temporary file the mode (and owner) the replaced or new file should have.
int TakeOverAttributes(int fd, const struct stat* old, const std::string& dir,
                       const ReplaceOptions& options) {
    if (old == nullptr) {
        if (options.exactNewFileMode && ::fchmod(fd, SharedWithGroupIn(dir, options.newFileMode)) != 0)
            return errno;
        return 0;
    }
    if (::fchmod(fd, old->st_mode & 07777) != 0)
        return errno;
    if (options.keepOwner && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
        // Only a privileged writer can hand the file back to another owner; a member of the
        // file's group can at least keep the group, so the others keep their access.
        [[maybe_unused]] const int kept = ::fchown(fd, static_cast<uid_t>(-1), old->st_gid);
    }
    return 0;
}

// The new file gets the old one's owner and group exactly, or the replacement does not happen.
bool HandOverOwner(int fd, const struct stat& old) {
    return ::fchown(fd, old.st_uid, old.st_gid) == 0;
}

int WriteAll(int fd, std::string_view bytes, const ReplaceOptions& options) {
    return options.writer ? options.writer(fd, bytes) : WriteAllBytes(fd, bytes);
}

// The file itself is overwritten and cut to the new length: owner, group, mode and links stay.
int RewriteInPlace(const std::string& target, std::string_view bytes, const ReplaceOptions& options) {
    FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        return errno;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    int error = WriteAll(fd.Get(), bytes, options);
    if (error == 0 && ::ftruncate(fd.Get(), static_cast<off_t>(bytes.size())) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd.Get()) != 0)
        error = errno;
    if (!fd.Close() && error == 0)
        error = errno;
    return error;
}

} // namespace

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileDescriptor::Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
}

int WriteAllBytes(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int ReplaceWholeFile(const std::string& path, std::string_view bytes, const ReplaceOptions& options) {
    if (path.empty())
        return ENOENT;
    const std::string target = options.followLink ? ResolveTarget(path) : path;
    struct stat old {};
    // A link still in place is replaced, not followed: it counts as no file at all.
    const bool exists = ::lstat(target.c_str(), &old) == 0 && !S_ISLNK(old.st_mode);
    if (exists && options.keepWriteProtected) {
        if (::access(target.c_str(), W_OK) != 0)
            return errno;
        if ((old.st_mode & 0222) == 0)
            return EACCES;
    }
    const bool inPlaceAllowed = exists && options.inPlaceUnlessKept;
    if (inPlaceAllowed && !S_ISREG(old.st_mode))
        return EINVAL;
    if (inPlaceAllowed && old.st_nlink > 1)
        return RewriteInPlace(target, bytes, options);
    const std::string dir = DirectoryOf(target);
    std::string temporary;
    FileDescriptor fd(
        CreateTemporaryBeside(target, options.exactNewFileMode ? 0600 : options.newFileMode, temporary));
    if (fd.Get() < 0) {
        if (inPlaceAllowed && (errno == EACCES || errno == EPERM))
            return RewriteInPlace(target, bytes, options);
        return errno;
    }
    int error = TakeOverAttributes(fd.Get(), exists ? &old : nullptr, dir, options);
    if (error == 0 && inPlaceAllowed && !HandOverOwner(fd.Get(), old)) {
        fd.Close();
        ::unlink(temporary.c_str());
        return RewriteInPlace(target, bytes, options);
    }
    if (error == 0)
        error = WriteAll(fd.Get(), bytes, options);
    if (error == 0 && ::fsync(fd.Get()) != 0)
        error = errno;
    if (!fd.Close() && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return error;
    }
    SyncDirectory(dir);
    struct stat written {};
    if (options.removeStaleTemporaries && ::stat(target.c_str(), &written) == 0)
        RemoveStaleTemporaries(target, written.st_mtime);
    return 0;
}

bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                     std::uintmax_t* oversize) {
    if (oversize)
        *oversize = 0;
    // O_NONBLOCK keeps a FIFO from holding the open; the checks keep a device such as /dev/zero
    // from filling memory.
    FileDescriptor fd(OpenEntry(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
        if (oversize)
            *oversize = static_cast<std::uintmax_t>(st.st_size);
        return false;
    }
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > maxBytes)
            return false; // grew while being read
    }
}

namespace {

// Where a missing file is created: the installed program directory links its shared files into
// the data directory, and an exclusive create does not follow a link, so it goes to the target.
std::string CreationPath(const std::string& name) {
    if (::geteuid() == 0)
        return EntryToUse(name);
    char target[4096];
    const ssize_t n = ::readlink(name.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return name;
    const std::string linked(target, static_cast<std::size_t>(n));
    const auto slash = name.rfind('/');
    if (linked[0] == '/' || slash == std::string::npos)
        return linked;
    return name.substr(0, slash + 1) + linked;
}

int OpenForAppend(const std::string& name, mode_t newFileMode) {
    const int fd = OpenEntry(name, O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    const int created =
        ::open(CreationPath(name).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode);
    if (created < 0)
        return errno == EEXIST ? OpenEntry(name, O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC) : -1;
    ::fchmod(created, newFileMode); // the umask took the group's write permission
    return created;
}

} // namespace

int AppendWholeText(const std::string& path, std::string_view text, mode_t newFileMode) {
    FileDescriptor file(OpenForAppend(path, newFileMode));
    if (file.Get() < 0)
        return errno;
    struct stat before {};
    if (::fstat(file.Get(), &before) != 0)
        return errno;
    if (!S_ISREG(before.st_mode))
        return EINVAL; // a FIFO or a device in the log's place is never written
    int error = WriteAllBytes(file.Get(), text);
    if (error != 0) {
        [[maybe_unused]] const int truncated = ::ftruncate(file.Get(), before.st_size);
    }
    if (!file.Close() && error == 0)
        error = errno;
    return error;
}

} // namespace pelorix
