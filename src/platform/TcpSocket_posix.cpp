#include "platform/TcpSocket.h"

#include "platform/NameLookup.h"
#include "platform/NetworkDeadline.h"
#include "platform/TlsChannel.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <utility>

namespace pelorix {

namespace {

std::string DottedAddress(const sockaddr_in& addr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return text;
}

// Waits until fd is ready for the given events; false on timeout or error. The calling
// thread's network deadline ends the wait early.
TcpResult WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int n = poll(&p, 1, CapToNetworkDeadline(timeoutMs));
        if (n > 0)
            return TcpResult::Ok;
        if (n == 0)
            return TcpResult::Timeout;
        if (errno != EINTR)
            return TcpResult::Failed;
    }
}

} // namespace

std::optional<std::string> SystemLookUpIPv4(const std::string& host, bool numericOnly) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return std::nullopt;
    const std::string text = DottedAddress(*reinterpret_cast<const sockaddr_in*>(result->ai_addr));
    freeaddrinfo(result);
    return text;
}

std::optional<std::string> SystemCanonicalName(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return std::nullopt;
    std::optional<std::string> canonical;
    if (result->ai_canonname != nullptr)
        canonical = result->ai_canonname;
    freeaddrinfo(result);
    return canonical;
}

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string FullyQualifiedHostName() {
    const std::string name = LocalHostName();
    if (name.find('.') != std::string::npos)
        return name;
    if (name.empty())
        return {};
    const std::string canonical =
        LookUpWithinDeadline([name] { return SystemCanonicalName(name); }).value_or(std::string());
    return canonical.find('.') != std::string::npos ? canonical : std::string();
}

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

void TcpSocket::Close() {
    if (tls_) {
        tls_->Shutdown();
        tls_.reset();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

TcpResult TcpSocket::Connect(const std::string& host, std::uint16_t port, int timeoutMs) {
    Close();
    const auto address = ResolveIPv4(host);
    if (!address)
        return TcpResult::ResolveFailed;

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    inet_pton(AF_INET, address->c_str(), &target.sin_addr);

    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0)
        return TcpResult::Failed;

    // A non-blocking connect bounded by poll, so an unanswered SYN never holds the caller.
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        if (errno != EINPROGRESS) {
            Close();
            return TcpResult::ConnectFailed;
        }
        const TcpResult waited = WaitFor(fd_, POLLOUT, timeoutMs);
        if (waited != TcpResult::Ok) {
            Close();
            return waited;
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            Close();
            return error == ETIMEDOUT ? TcpResult::Timeout : TcpResult::ConnectFailed;
        }
    }
    // The dialogues send short commands and wait for each reply; without this, delayed
    // acknowledgements hold every small piece back by tens of milliseconds.
    const int noDelay = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    return TcpResult::Ok;
}

TcpResult TcpSocket::SendAll(std::string_view data, int timeoutMs) {
    if (fd_ < 0)
        return TcpResult::Failed;
    if (tls_)
        return tls_->SendAll(fd_, data, WaitUntil(timeoutMs));
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const TcpResult waited = WaitFor(fd_, POLLOUT, timeoutMs);
            if (waited != TcpResult::Ok)
                return waited;
            continue;
        }
        return TcpResult::Failed;
    }
    return TcpResult::Ok;
}

TcpResult TcpSocket::Receive(char* buffer, std::size_t size, int timeoutMs, std::size_t& received) {
    received = 0;
    if (fd_ < 0)
        return TcpResult::Failed;
    if (tls_)
        return tls_->Receive(fd_, buffer, size, WaitUntil(timeoutMs), received);
    const auto until = WaitUntil(timeoutMs);
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return TcpResult::Ok;
        }
        if (n == 0)
            return TcpResult::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return TcpResult::Failed;
        const int left = until.Cap(-1);
        if (left <= 0)
            return TcpResult::Timeout;
        const TcpResult waited = WaitFor(fd_, POLLIN, left);
        if (waited != TcpResult::Ok)
            return waited;
    }
}

std::string TcpSocket::LocalAddress() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    return DottedAddress(addr);
}

std::string TcpSocket::PeerAddress() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    return DottedAddress(addr);
}

} // namespace pelorix
