#include "platform/TcpSocket.h"

#include "platform/TlsChannel.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace pelorix {

int ExchangeDeadline::Cap(int limitMs) const {
    // Rounded up, so that a wait cut to what is left ends only once the exchange is over.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now()).count();
    if (left <= 0)
        return 0;
    return left < limitMs ? static_cast<int>(left) : limitMs;
}

TcpSocket::TcpSocket() = default;

TcpSocket::~TcpSocket() {
    Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), deadline_(std::exchange(other.deadline_, std::nullopt)),
      tls_(std::move(other.tls_)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        deadline_ = std::exchange(other.deadline_, std::nullopt);
        tls_ = std::move(other.tls_);
    }
    return *this;
}

std::chrono::steady_clock::time_point TcpSocket::WaitUntil(int timeoutMs) const {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    return deadline_ && *deadline_ < until ? *deadline_ : until;
}

int TcpSocket::WaitMs(int timeoutMs) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(WaitUntil(timeoutMs) -
                                                                            std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, INT_MAX));
}

TlsStartResult TcpSocket::StartTls(const std::string& host, const CertificateCheck& check, int timeoutMs) {
    if (fd_ < 0)
        return TlsStartResult::Failed;
    TlsStartResult result = TlsStartResult::Failed;
    tls_ = TlsChannel::Start(fd_, host, check, WaitUntil(timeoutMs), result);
    return result;
}

} // namespace pelorix
