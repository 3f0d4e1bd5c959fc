#pragma once
// TLS over a connected TCP socket for the own mail clients. OpenSSL (libssl.so.3 and
// libcrypto.so.3) is loaded at run time on the first use and stays loaded, as it cannot be
// unloaded; so only the mail helper process ever starts a channel and the service itself never
// carries the library. A Windows build would put Schannel behind the same interface.
//
// The peer is trusted when its certificate chain verifies against the system's authorities and
// names the host, or, with a stored pin, when the SHA-256 of its public key matches the pin;
// the handshake is checked before one byte of application data goes out.

#include "platform/NetworkDeadline.h"
#include "platform/TcpSocket.h"

#include <memory>
#include <string>
#include <string_view>

namespace pelorix {

enum class TlsStartResult {
    Ok,
    Unavailable, // the TLS library could not be loaded
    Failed,      // the handshake failed (no TLS server, protocol error)
    Untrusted,   // the certificate is not trusted; seenPin tells which key was shown
    Timeout      // the time limit ran out
};

class TlsChannel {
public:
    // Every wait ends at until (the call's time limit or the thread's network deadline, whichever
    // comes first), however the peer trickles its bytes.
    using TimePoint = Deadline;

    // Runs the handshake on fd (a connected non-blocking socket). pin empty: the system's CAs
    // and the host name (or address); otherwise "sha256//BASE64". seenPin gets the pin of the
    // certificate the server showed, whenever one was shown.
    static std::unique_ptr<TlsChannel> Start(int fd, const std::string& host, const std::string& pin,
                                             TimePoint until, TlsStartResult& result, std::string& seenPin);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    TcpResult SendAll(int fd, std::string_view data, TimePoint until);
    TcpResult Receive(int fd, char* buffer, std::size_t size, TimePoint until, std::size_t& received);
    // Sends the closing alert (best effort, without waiting for the peer's).
    void Shutdown();

private:
    struct Handles;
    explicit TlsChannel(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles_;
};

} // namespace pelorix
