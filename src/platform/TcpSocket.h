#pragma once
// A blocking IPv4 TCP client connection with time limits, for the WinSock calls the clients
// use (gethostbyname, socket, connect, send, recv, getsockname, closesocket): on Windows it
// makes them, on Linux it stands in for them.
// One object owns one socket; it closes on destruction. Not shared between threads.

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

// Resolves a host name or dotted address to a dotted IPv4 address (getaddrinfo, AF_INET), within
// the calling thread's network deadline (platform/NetworkDeadline.h): a look-up the name server
// holds longer is abandoned, and none starts once the deadline has passed.
std::optional<std::string> ResolveIPv4(const std::string& host);

// The name of this computer (gethostname).
std::string LocalHostName();
// The fully qualified name of this computer where the system knows one (a name with a dot), else
// empty. A look-up it needs is bounded as ResolveIPv4's.
std::string FullyQualifiedHostName();
// The id of the running process.
long CurrentProcessId();

class Deadline;
class TlsChannel;
enum class TlsStartResult;
// Decides on the certificates a TLS server presented (DER, the server's own first): true to
// go on with the connection.
using CertificateCheck = std::function<bool(const std::vector<std::string>& chain)>;

class TcpSocket {
public:
    static constexpr int kDefaultConnectTimeoutMs = 20000;

    TcpSocket();
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;
    TcpSocket(TcpSocket&& other) noexcept;
    TcpSocket& operator=(TcpSocket&& other) noexcept;

    // Resolves host and connects to it; closes any earlier connection first. Like every wait
    // below, bounded also by the calling thread's network deadline.
    TcpResult Connect(const std::string& host, std::uint16_t port, int timeoutMs = kDefaultConnectTimeoutMs);

    // Sends all bytes, waiting at most timeoutMs for the socket to take each piece.
    TcpResult SendAll(std::string_view data, int timeoutMs);

    // Receives up to size bytes, waiting at most timeoutMs for the first; received gets the count.
    TcpResult Receive(char* buffer, std::size_t size, int timeoutMs, std::size_t& received);

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
    // timeoutMs from now, or the thread's network deadline when that comes first.
    static Deadline WaitUntil(int timeoutMs);

    int fd_ = -1;
    std::unique_ptr<TlsChannel> tls_;
};

} // namespace pelorix
