#include "platform/TcpSocket.h"

#include "platform/TlsChannel.h"

namespace pelorix {

// STUB
std::optional<std::string> ResolveIPv4(const std::string&) {
    return std::nullopt;
}
std::string LocalHostName() {
    return {};
}
std::string FullyQualifiedHostName() {
    return {};
}
long CurrentProcessId() {
    return 0;
}
TcpSocket::TcpSocket() = default;
TcpSocket::~TcpSocket() = default;
TcpResult TcpSocket::Connect(const std::string&, std::uint16_t, int) {
    return TcpResult::Failed;
}
TcpResult TcpSocket::SendAll(std::string_view, int) {
    return TcpResult::Failed;
}
TcpResult TcpSocket::Receive(char*, std::size_t, int, std::size_t& received) {
    received = 0;
    return TcpResult::Failed;
}
TlsStartResult TcpSocket::StartTls(const std::string&, const std::string&, int, std::string&) {
    return TlsStartResult::Unavailable;
}
std::string TcpSocket::LocalAddress() const {
    return {};
}
std::string TcpSocket::PeerAddress() const {
    return {};
}
void TcpSocket::Close() {}

} // namespace pelorix

namespace pelorix {
TcpSocket& TcpSocket::operator=(TcpSocket&&) noexcept {
    return *this;
}
TcpSocket::TcpSocket(TcpSocket&&) noexcept {}
} // namespace pelorix
