#include "platform/TcpSocket.h"

#include "platform/Clock.h"
#include "platform/NameLookup.h"
#include "platform/NetworkDeadline.h"
#include "platform/TlsChannel.h"

#include <algorithm>
#include <utility>

namespace pelorix {

std::optional<std::string> ResolveIPv4(const std::string& host) {
    if (host.empty())
        return std::nullopt;
    // "localhost" always means the loopback address, also on a system without /etc/hosts (the
    // monitor link depends on it), and an address needs no name server: neither waits for one.
    if (host == "localhost")
        return std::string("127.0.0.1");
    if (auto address = SystemLookUpIPv4(host, true))
        return address;
    return LookUpWithinDeadline([host] { return SystemLookUpIPv4(host, false); });
}

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket() {
    Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), tls_(std::move(other.tls_)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        tls_ = std::move(other.tls_);
    }
    return *this;
}

Deadline TcpSocket::WaitUntil(int timeoutMs) {
    return Deadline::In(SystemClock::Instance(), timeoutMs).Sooner(NetworkDeadline());
}

TlsStartResult TcpSocket::StartTls(const std::string& host, const CertificateCheck& check, int timeoutMs) {
    if (fd_ < 0)
        return TlsStartResult::Failed;
    TlsStartResult result = TlsStartResult::Failed;
    tls_ = TlsChannel::Start(fd_, host, check, WaitUntil(timeoutMs), result);
    return result;
}

} // namespace pelorix
