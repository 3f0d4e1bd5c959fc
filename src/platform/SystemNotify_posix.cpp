#include "platform/SystemNotify.h"

#include "platform/FileDescriptor.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pelorix {

namespace {

const char* NotifySocket() {
    const char* name = std::getenv("NOTIFY_SOCKET");
    return name && (name[0] == '/' || name[0] == '@') && name[1] ? name : nullptr;
}

} // namespace

bool SystemNotifyWanted() {
    return NotifySocket() != nullptr;
}

bool NotifySystem(std::string_view lines) {
    const char* name = NotifySocket();
    if (!name)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if (length >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, name, length);
    // An abstract name starts with a zero byte and is not terminated by one.
    if (name[0] == '@')
        address.sun_path[0] = '\0';
    const auto size =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '/' ? 1 : 0));
    const Fd socketFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socketFd.Valid())
        return false;
    const ssize_t sent = ::sendto(socketFd.Get(), lines.data(), lines.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), size);
    return sent == static_cast<ssize_t>(lines.size());
}

bool StandardErrorToJournal() {
    // "DEVICE:INODE" of the stream the journal took; it counts only while standard error is
    // still that stream (a redirection in between makes it a file again).
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (!stream || std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    struct stat st {};
    return ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

std::vector<std::string> ServiceManagerEnvironment() {
    std::vector<std::string> entries;
    for (const char* name : {"NOTIFY_SOCKET", "JOURNAL_STREAM"})
        if (const char* value = std::getenv(name))
            entries.push_back(std::string(name) + "=" + value);
    return entries;
}

} // namespace pelorix
