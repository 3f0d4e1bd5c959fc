#include "platform/TlsChannel.h"

namespace pelorix {

// This build carries no TLS library (Schannel would stand behind this interface): every
// protected connection is reported as not available, and nothing goes out unprotected.
struct TlsChannel::Handles {};

TlsChannel::TlsChannel(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}
TlsChannel::~TlsChannel() = default;

std::unique_ptr<TlsChannel> TlsChannel::Start(int, const std::string&, const CertificateCheck&, TimePoint,
                                              TlsStartResult& result) {
    result = TlsStartResult::Unavailable;
    return nullptr;
}

TcpResult TlsChannel::SendAll(int, std::string_view, TimePoint) {
    return TcpResult::Failed;
}

TcpResult TlsChannel::Receive(int, char*, std::size_t, TimePoint, std::size_t& received) {
    received = 0;
    return TcpResult::Failed;
}

void TlsChannel::Shutdown() {}

} // namespace pelorix
