#include "platform/TcpSocket.h"

#include "platform/NameLookup.h"
#include "platform/NetworkDeadline.h"
#include "platform/TlsChannel.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <utility>

namespace pelorix {

namespace {

// WinSock is started once for the process, on the first use of any call of this file, and
// stays up until the process ends.
class WinSockSession {
public:
    WinSockSession() {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinSockSession() {
        if (started_)
            WSACleanup();
    }
    WinSockSession(const WinSockSession&) = delete;
    WinSockSession& operator=(const WinSockSession&) = delete;

private:
    bool started_ = false;
};

void EnsureWinSock() {
    static WinSockSession session;
}

// The connection keeps its socket in an int, as the Linux half does with its descriptor. A
// socket is a kernel handle, and 64-bit Windows keeps handles within 32 bits, so the value
// survives the round trip; one that would not is refused at creation.
SOCKET AsSocket(int fd) {
    return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<std::intptr_t>(fd));
}

std::string DottedAddress(const sockaddr_in& addr) {
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text) == nullptr)
        return {};
    return text;
}

enum class Ready { Read, Write, Connect };

// Waits until the socket is ready; the calling thread's network deadline ends the wait early.
// select rather than WSAPoll, as WSAPoll of older Windows never reports a refused connect.
TcpResult WaitFor(SOCKET s, Ready what, int timeoutMs) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if (what == Ready::Read)
        FD_SET(s, &readable);
    else
        FD_SET(s, &writable);
    if (what == Ready::Connect)
        FD_SET(s, &failed); // a failed connect shows here, not as writable
    const int ms = CapToNetworkDeadline(timeoutMs);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    const int n = ::select(0, &readable, &writable, &failed, ms < 0 ? nullptr : &limit);
    if (n > 0)
        return TcpResult::Ok;
    return n == 0 ? TcpResult::Timeout : TcpResult::Failed;
}

bool WouldBlock() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

} // namespace

std::optional<std::string> SystemLookUpIPv4(const std::string& host, bool numericOnly) {
    EnsureWinSock();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return std::nullopt;
    const std::string text = DottedAddress(*reinterpret_cast<const sockaddr_in*>(result->ai_addr));
    freeaddrinfo(result);
    if (text.empty())
        return std::nullopt;
    return text;
}

std::optional<std::string> SystemCanonicalName(const std::string& name) {
    EnsureWinSock();
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
    EnsureWinSock();
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string FullyQualifiedHostName() {
    // The name with the computer's primary DNS suffix, where it has one.
    char full[256] = {};
    DWORD size = sizeof full;
    if (GetComputerNameExA(ComputerNameDnsFullyQualified, full, &size) &&
        std::string(full).find('.') != std::string::npos)
        return full;
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
    return static_cast<long>(GetCurrentProcessId());
}

void TcpSocket::Close() {
    if (tls_) {
        tls_->Shutdown();
        tls_.reset();
    }
    if (fd_ >= 0) {
        ::closesocket(AsSocket(fd_));
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

    // Not inherited: a command or helper started meanwhile must not hold the connection open.
    SOCKET s = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        // Windows before 7 SP1 knows no such flag.
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET)
            return TcpResult::Failed;
        SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    const auto value = static_cast<std::intptr_t>(s);
    if (value < 0 || value > INT_MAX) {
        ::closesocket(s);
        return TcpResult::Failed;
    }
    fd_ = static_cast<int>(value);
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        Close();
        return TcpResult::Failed;
    }

    // A non-blocking connect bounded by select, so an unanswered SYN never holds the caller.
    if (::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        if (!WouldBlock()) {
            Close();
            return TcpResult::ConnectFailed;
        }
        const TcpResult waited = WaitFor(s, Ready::Connect, timeoutMs);
        if (waited != TcpResult::Ok) {
            Close();
            return waited;
        }
        int error = 0;
        int len = sizeof error;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 || error != 0) {
            Close();
            return error == WSAETIMEDOUT ? TcpResult::Timeout : TcpResult::ConnectFailed;
        }
    }
    // The dialogues send short commands and wait for each reply; without this, delayed
    // acknowledgements hold every small piece back.
    const BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return TcpResult::Ok;
}

TcpResult TcpSocket::SendAll(std::string_view data, int timeoutMs) {
    if (fd_ < 0)
        return TcpResult::Failed;
    if (tls_)
        return tls_->SendAll(fd_, data, WaitUntil(timeoutMs));
    const SOCKET s = AsSocket(fd_);
    std::size_t sent = 0;
    while (sent < data.size()) {
        const int piece = static_cast<int>(std::min<std::size_t>(data.size() - sent, INT_MAX));
        const int n = ::send(s, data.data() + sent, piece, 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && WouldBlock()) {
            const TcpResult waited = WaitFor(s, Ready::Write, timeoutMs);
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
    const SOCKET s = AsSocket(fd_);
    const int wanted = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    const auto until = WaitUntil(timeoutMs);
    for (;;) {
        const int n = ::recv(s, buffer, wanted, 0);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return TcpResult::Ok;
        }
        if (n == 0)
            return TcpResult::Closed;
        if (!WouldBlock())
            return TcpResult::Failed;
        const int left = until.Cap(-1);
        if (left <= 0)
            return TcpResult::Timeout;
        const TcpResult waited = WaitFor(s, Ready::Read, left);
        if (waited != TcpResult::Ok)
            return waited;
    }
}

std::string TcpSocket::LocalAddress() const {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (fd_ < 0 || getsockname(AsSocket(fd_), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    return DottedAddress(addr);
}

std::string TcpSocket::PeerAddress() const {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (fd_ < 0 || getpeername(AsSocket(fd_), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return {};
    return DottedAddress(addr);
}

} // namespace pelorix
