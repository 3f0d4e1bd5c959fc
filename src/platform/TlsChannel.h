#pragma once
// TLS over a connected TCP socket for the own mail clients, on OpenSSL (see platform/OpenSsl.h),
// so only the mail helper process ever starts a channel and the service itself never carries
// the library. A Windows build would put Schannel behind the same interface.
//
// The channel does not judge the peer itself: it hands the certificate chain to the check its
// caller gives (net/Trust.h decides, which the platform layer may not reach), and a refusal
// ends the handshake before one byte of application data goes out.

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
    Untrusted,   // the check refused the certificate
    Timeout      // the time limit ran out
};

class TlsChannel {
public:
    // Every wait ends at until (the call's time limit or the thread's network deadline, whichever
    // comes first), however the peer trickles its bytes.
    using TimePoint = Deadline;

    // Runs the handshake on fd (a connected non-blocking socket), naming host to the server;
    // the channel stands only when check accepted what the server presented.
    static std::unique_ptr<TlsChannel> Start(int fd, const std::string& host, const CertificateCheck& check,
                                             TimePoint until, TlsStartResult& result);
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
