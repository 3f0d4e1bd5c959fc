#include "TestSystem.h"

#include "platform/TlsChannel.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace pelorix::test {
namespace {

// WinSock wants its start once per process before the first socket; the test's peers may open
// theirs before the code under test does.
bool SocketsStarted() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Handle(int fd) {
    return static_cast<SOCKET>(fd);
}

// A helper process started with inherited handles must not keep a peer's connection open.
int NotInherited(SOCKET s) {
    if (s == INVALID_SOCKET)
        return -1;
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<int>(s);
}

} // namespace

bool RunsOnWindows() {
    return true;
}

std::string ProgramFileName(const std::string& name) {
    return name + ".exe";
}

char DirectorySeparator() {
    return '\\';
}

void KeepLineEndsOfStandardOutput() {
    std::fflush(stdout);
    ::_setmode(::_fileno(stdout), _O_BINARY);
}

// Asks the channel itself: one that cannot even begin says so before it touches the socket.
bool TlsAvailable() {
    TlsStartResult result = TlsStartResult::Unavailable;
    TlsChannel::Start(-1, "localhost", {}, Deadline(), result);
    return result != TlsStartResult::Unavailable;
}

// The tests name Linux locales; the system has names of its own for them.
bool LocaleInstalled(const char*) {
    return false;
}

bool MayHandFilesToOtherUsers() {
    return false;
}

bool ChangeOwner(const std::string&, unsigned, unsigned) {
    return false;
}

bool WorksAsNobody(const std::function<bool()>&) {
    return false;
}

bool MakeFifo(const std::string&) {
    return false;
}

int ListenOnLoopback(std::uint16_t port, int backlog, std::uint16_t& boundPort) {
    boundPort = 0;
    if (!SocketsStarted())
        return -1;
    const int fd = NotInherited(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (fd < 0)
        return -1;
    // Unlike on Linux, the address reuse option would let a second listener take the port.
    const BOOL yes = TRUE;
    ::setsockopt(Handle(fd), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                 sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (::bind(Handle(fd), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(Handle(fd), backlog) != 0 ||
        ::getsockname(Handle(fd), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::closesocket(Handle(fd));
        return -1;
    }
    boundPort = ntohs(addr.sin_port);
    return fd;
}

bool WaitReadable(int fd, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = Handle(fd);
    p.events = POLLRDNORM;
    return ::WSAPoll(&p, 1, timeoutMs) > 0;
}

int AcceptConnection(int listenFd) {
    return NotInherited(::accept(Handle(listenFd), nullptr, nullptr));
}

long SendSome(int fd, const char* data, std::size_t size) {
    return ::send(Handle(fd), data, static_cast<int>(size), 0);
}

long ReceiveSome(int fd, char* buffer, std::size_t size) {
    return ::recv(Handle(fd), buffer, static_cast<int>(size), 0);
}

void ShutdownWrite(int fd) {
    ::shutdown(Handle(fd), SD_SEND);
}

void CloseSocket(int fd) {
    ::closesocket(Handle(fd));
}

std::string CanonicalIPv4(const std::string& text) {
    if (!SocketsStarted())
        return {};
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return {};
    char formatted[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &parsed, formatted, sizeof formatted) ? formatted : "";
}

} // namespace pelorix::test
