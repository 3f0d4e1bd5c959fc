#include "TestSystem.h"

#include <arpa/inet.h>
#include <grp.h>
#include <locale.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelorix::test {

bool RunsOnWindows() {
    return false;
}

std::string ProgramFileName(const std::string& name) {
    return name;
}

char DirectorySeparator() {
    return '/';
}

void KeepLineEndsOfStandardOutput() {}

bool TlsAvailable() {
    return true;
}

bool LocaleInstalled(const char* name) {
    const locale_t locale = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0))
        return false;
    freelocale(locale);
    return true;
}

bool MayHandFilesToOtherUsers() {
    return ::geteuid() == 0;
}

bool ChangeOwner(const std::string& path, unsigned owner, unsigned group) {
    return ::chown(path.c_str(), owner, group) == 0;
}

bool WorksAsNobody(const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 && work() ? 0
                                                                                                       : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool MakeFifo(const std::string& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

int ListenOnLoopback(std::uint16_t port, int backlog, std::uint16_t& boundPort) {
    boundPort = 0;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A fixed port that a test before left in TIME_WAIT is free again at once.
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    boundPort = ntohs(addr.sin_port);
    return fd;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

int AcceptConnection(int listenFd) {
    return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
}

long SendSome(int fd, const char* data, std::size_t size) {
    return ::send(fd, data, size, MSG_NOSIGNAL);
}

long ReceiveSome(int fd, char* buffer, std::size_t size) {
    return ::recv(fd, buffer, size, 0);
}

void ShutdownWrite(int fd) {
    ::shutdown(fd, SHUT_WR);
}

void CloseSocket(int fd) {
    ::close(fd);
}

std::string CanonicalIPv4(const std::string& text) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return {};
    char formatted[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &parsed, formatted, sizeof formatted) ? formatted : "";
}

} // namespace pelorix::test
