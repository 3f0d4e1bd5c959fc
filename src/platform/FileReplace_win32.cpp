#include "platform/FileReplace.h"

#include "platform/Win32Errno.h"

#include <windows.h>

#include <io.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <utility>

namespace pelorix {

int ErrnoOfWin32Error(unsigned long error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

namespace {

// Owns one Win32 file handle until it is closed or handed to a descriptor.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (Valid())
            ::CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    HANDLE handle_;
};

int LastErrno() {
    return ErrnoOfWin32Error(::GetLastError());
}

// A descriptor that owns the handle from now on, so the writer hook (which takes a descriptor)
// can write to it; -1 (errno set) when the table of descriptors is full, the handle then closed.
int AdoptHandle(FileHandle& handle) {
    const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle.Get()), _O_BINARY);
    if (fd >= 0)
        handle.Release();
    return fd;
}

HANDLE HandleOf(const FileDescriptor& fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd.Get()));
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/' || c == ':';
}

std::string DirectoryOf(const std::string& path) {
    std::size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]))
        --end;
    return path.substr(0, end);
}

std::string BaseNameOf(const std::string& path) {
    return path.substr(DirectoryOf(path).size());
}

// The file the rename must replace: the target of a link rather than the link. The system
// names the file an open handle reaches; a name that reaches nothing is replaced itself.
std::string ResolveTarget(const std::string& path) {
    FileHandle file(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid())
        return path;
    char resolved[MAX_PATH + 16];
    const DWORD length = ::GetFinalPathNameByHandleA(file.Get(), resolved, sizeof resolved,
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof resolved)
        return path;
    const std::string_view name(resolved, length);
    if (name.starts_with("\\\\?\\UNC\\"))
        return "\\\\" + std::string(name.substr(8));
    if (name.starts_with("\\\\?\\"))
        return std::string(name.substr(4));
    return std::string(name);
}

// A new file beside target, open for writing; invalid (last error set) when none could be made.
HANDLE CreateTemporaryBeside(const std::string& target, std::string& name) {
    static std::atomic<unsigned> counter{0};
    const std::string prefix = DirectoryOf(target) + "." + BaseNameOf(target) + ".";
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = prefix + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1)) +
               ".tmp";
        const HANDLE file = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
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

std::uint64_t Ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Measured against the time stamp the file system gave the file just written, so no clock
// is read here.
void RemoveStaleTemporaries(const std::string& target) {
    constexpr std::uint64_t kStaleTicks = 3600ull * 10'000'000ull; // an hour in 100 ns
    WIN32_FILE_ATTRIBUTE_DATA written{};
    if (!::GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &written))
        return;
    const std::uint64_t now = Ticks(written.ftLastWriteTime);
    const std::string dir = DirectoryOf(target);
    const std::string prefix = "." + BaseNameOf(target) + ".";
    WIN32_FIND_DATAA entry{};
    const HANDLE listing = ::FindFirstFileA((dir + prefix + "*.tmp").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            IsTemporaryOf(entry.cFileName, prefix) && Ticks(entry.ftLastWriteTime) + kStaleTicks < now)
            ::DeleteFileA((dir + entry.cFileName).c_str());
    } while (::FindNextFileA(listing, &entry));
    ::FindClose(listing);
}

// Straight to the system: the runtime's write reports a disk that fills up halfway as a bad
// argument, while the system's own error says what happened.
int WriteToHandle(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto chunk = static_cast<DWORD>(bytes.size() < (1u << 30) ? bytes.size() : (1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr))
            return LastErrno();
        if (written == 0)
            return ENOSPC;
        bytes.remove_prefix(written);
    }
    return 0;
}

int WriteAll(int fd, std::string_view bytes, const ReplaceOptions& options) {
    return options.writer ? options.writer(fd, bytes) : WriteAllBytes(fd, bytes);
}

int FlushAndClose(FileDescriptor& fd, int error) {
    if (error == 0 && !::FlushFileBuffers(HandleOf(fd)))
        error = LastErrno();
    if (!fd.Close() && error == 0)
        error = errno;
    return error;
}

// The file itself is overwritten and cut to the new length: its attributes and access rights
// stay, and a program that holds it open without letting it be renamed keeps reading it.
int RewriteInPlace(const std::string& target, std::string_view bytes, const ReplaceOptions& options) {
    FileHandle file(::CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return LastErrno();
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return EINVAL;
    FileDescriptor fd(AdoptHandle(file));
    if (fd.Get() < 0)
        return errno;
    int error = WriteAll(fd.Get(), bytes, options);
    if (error == 0 && !::SetEndOfFile(HandleOf(fd)))
        error = LastErrno();
    return FlushAndClose(fd, error);
}

// What the new file takes over from the one it replaces; the access rights come from the
// directory, and write protection is never handed on, so a later replacement is not refused.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

} // namespace

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::_close(fd_);
}

bool FileDescriptor::Close() {
    const int fd = fd_;
    fd_ = -1;
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    return ::_close(fd) == 0;
}

// The descriptors here are all binary, so the bytes go out as they stand either way.
int WriteAllBytes(int fd, std::string_view bytes) {
    const std::intptr_t handle = ::_get_osfhandle(fd);
    return handle == -1 ? EBADF : WriteToHandle(reinterpret_cast<HANDLE>(handle), bytes);
}

int ReplaceWholeFile(const std::string& path, std::string_view bytes, const ReplaceOptions& options) {
    if (path.empty())
        return ENOENT;
    const std::string target = options.followLink ? ResolveTarget(path) : path;
    WIN32_FILE_ATTRIBUTE_DATA old{};
    const bool exists = ::GetFileAttributesExA(target.c_str(), GetFileExInfoStandard, &old) != 0;
    if (exists && options.keepWriteProtected && (old.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        return EACCES;
    const bool inPlaceAllowed = exists && options.inPlaceUnlessKept;
    if (inPlaceAllowed && (old.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return EINVAL;
    std::string temporary;
    FileHandle created(CreateTemporaryBeside(target, temporary));
    if (!created.Valid()) {
        const DWORD error = ::GetLastError();
        if (inPlaceAllowed && error == ERROR_ACCESS_DENIED)
            return RewriteInPlace(target, bytes, options);
        return ErrnoOfWin32Error(error);
    }
    FileDescriptor fd(AdoptHandle(created));
    if (fd.Get() < 0) {
        const int error = errno;
        ::DeleteFileA(temporary.c_str());
        return error;
    }
    int error = FlushAndClose(fd, WriteAll(fd.Get(), bytes, options));
    if (error == 0 && exists && (old.dwFileAttributes & kKeptAttributes) != 0 &&
        !::SetFileAttributesA(temporary.c_str(), old.dwFileAttributes & kKeptAttributes))
        error = LastErrno();
    if (error == 0 && !::MoveFileExA(temporary.c_str(), target.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD moveError = ::GetLastError();
        // Another program holds the file open without letting it be renamed.
        if (inPlaceAllowed && (moveError == ERROR_ACCESS_DENIED || moveError == ERROR_SHARING_VIOLATION)) {
            ::DeleteFileA(temporary.c_str());
            return RewriteInPlace(target, bytes, options);
        }
        error = ErrnoOfWin32Error(moveError);
    }
    if (error != 0) {
        ::DeleteFileA(temporary.c_str());
        return error;
    }
    if (options.removeStaleTemporaries)
        RemoveStaleTemporaries(target);
    return 0;
}

bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                     std::uintmax_t* oversize) {
    if (oversize)
        *oversize = 0;
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open; the type check keeps a
    // pipe or a device from holding the read or filling memory. Others may go on writing and
    // replacing the file meanwhile.
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.Get(), &size))
        return false;
    if (static_cast<std::uintmax_t>(size.QuadPart) > maxBytes) {
        if (oversize)
            *oversize = static_cast<std::uintmax_t>(size.QuadPart);
        return false;
    }
    bytes.clear();
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        bytes.append(buffer, got);
        if (bytes.size() > maxBytes)
            return false; // grew while being read
    }
}

int AppendWholeText(const std::string& path, std::string_view text, mode_t) {
    // Append access alone puts every write at the end, whoever else appends meanwhile.
    FileHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return LastErrno();
    LARGE_INTEGER before{};
    if (!::GetFileSizeEx(file.Get(), &before))
        return LastErrno();
    const int error = WriteToHandle(file.Get(), text);
    if (error != 0) {
        // Cutting the file back needs write access, which the appending handle lacks.
        FileHandle cut(::CreateFileA(path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (cut.Valid() && ::SetFilePointerEx(cut.Get(), before, nullptr, FILE_BEGIN))
            ::SetEndOfFile(cut.Get());
    }
    return error;
}

} // namespace pelorix
