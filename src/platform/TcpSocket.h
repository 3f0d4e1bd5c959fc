#pragma once
// A blocking IPv4 TCP client connection with time limits, for the WinSock calls the clients
// use (gethostbyname, socket, connect, send, recv, getsockname, closesocket): on Windows it
// makes them, on Linux it stands in for them.
// One object owns one socket; it closes on destruction. Not shared between threads.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

enum class TcpResult {
    Ok,
    ResolveFailed, // the host name could not be resolved
    ConnectFailed, // nobody accepted the connection (refused, unreachable)
    Timeout,       // the time limit ran out
    Closed,        // the peer closed the connection (receive only)
    Failed         // any other socket error
};

// Resolves a host name or dotted address to a dotted IPv4 address (getaddrinfo, AF_INET).
std::optional<std::string> ResolveIPv4(const std::string& host);

// The name of this computer (gethostname).
std::string LocalHostName();
// The fully qualified name of this computer where the system knows one (a name with a dot), else
// empty.
std::string FullyQualifiedHostName();
// The id of the running process.
long CurrentProcessId();

class TlsChannel;
enum class TlsStartResult;
// Decides on the certificates a TLS server presented (DER, the server's own first): true to
// go on with the connection.
using CertificateCheck = std::function<bool(const std::vector<std::string>& chain)>;

// The end of a whole exchange. A peer that sends a byte now and then never lets a single
// receive time out; cutting every wait to what is left of the exchange bounds it as a whole.
class ExchangeDeadline {
public:
    explicit ExchangeDeadline(int totalMs)
        : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs)) {}
    // limitMs, or what is left of the exchange when that is less; 0 once it is over.
    int Cap(int limitMs) const;
    bool Passed() const { return std::chrono::steady_clock::now() >= end_; }

private:
    std::chrono::steady_clock::time_point end_;
};

class TcpSocket {
public:
    static constexpr int kDefaultConnectTimeoutMs = 20000;

    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;

    // Resolves host and connects to it; closes any earlier connection first.
    TcpResult Connect(const std::string& host, std::uint16_t port, int timeoutMs = kDefaultConnectTimeoutMs);

    // Sends all bytes, waiting at most timeoutMs for the socket to take each piece.
    TcpResult SendAll(std::string_view data, int timeoutMs);

    // Receives up to size bytes, waiting at most timeoutMs for the first; received gets the count.
    TcpResult Receive(char* buffer, std::size_t size, int timeoutMs, std::size_t& received);

    // Until Close, no send or receive waits beyond this moment, however the peer trickles.
    void SetDeadline(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }

    // Runs a TLS handshake on the connection (see platform/TlsChannel.h); from then on every
    // send and receive is protected.
    TlsStartResult StartTls(const std::string& host, const CertificateCheck& check, int timeoutMs);
    bool IsSecure() const { return tls_ != nullptr; }

    // Dotted address of the local end (getsockname), empty when not connected.
    std::string LocalAddress() const;
    // Dotted address of the remote end, empty when not connected.
    std::string PeerAddress() const;

    bool IsOpen() const { return fd_ >= 0; }
    void Close();

private:
    std::chrono::steady_clock::time_point WaitUntil(int timeoutMs) const;
    int WaitMs(int timeoutMs) const;

    int fd_ = -1;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    std::unique_ptr<TlsChannel> tls_;
};

} // namespace pelorix
