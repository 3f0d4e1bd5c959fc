#include "net/CurlSession.h"

#include "net/InternetSession.h"
#include "platform/NetworkDeadline.h"
#include "platform/TcpSocket.h"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <utility>

namespace pelorix::wininet::curl {

// WinInet keeps the last error and the last server reply per thread; so do we.
thread_local std::uint32_t tLastError = 0;
thread_local std::uint32_t tLastResponseError = 0;
thread_local std::string tLastResponse;
thread_local std::string tLastReason;
thread_local std::string tLastUntrusted;
thread_local TrustDecision tLastRefusal;
thread_local bool tLastPinUnneeded = false;

void PeerCheck::Expect(std::string host, TrustSetting trust) {
    host_ = std::move(host);
    trust_ = std::move(trust);
}

// libcurl's own verification stays switched on only so that a refusal ends the handshake: the
// chain itself, the host name included, is judged by the check.
bool PeerCheck::ApplyToTls(const CurlApi& api, CURL* curl) {
    api.easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    api.easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    // The check reads the authorities it needs itself; libcurl need not load them as well.
    api.easy_setopt(curl, CURLOPT_CAINFO, nullptr);
    api.easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    return api.easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &PeerCheck::OnSslContext) == CURLE_OK &&
           api.easy_setopt(curl, CURLOPT_SSL_CTX_DATA, this) == CURLE_OK;
}

CURLcode PeerCheck::OnSslContext(CURL*, void* context, void* self) {
    // libcurl speaks TLS through the same OpenSSL, loaded with it.
    const OpenSslApi* api = OpenSsl();
    if (api == nullptr)
        return CURLE_SSL_CERTPROBLEM;
    HandChainsTo(*api, static_cast<SSL_CTX*>(context), static_cast<PeerCheck*>(self)->chainCheck_);
    return CURLE_OK;
}

// The refusal carries the certificate library's reason, which libcurl then words itself.
int PeerCheck::CheckChain(const std::vector<std::string>& chain) {
    const TrustDecision decision = CheckCertificateChain(chain, host_, trust_);
    if (decision.Accepted()) {
        pinUnneeded_ = decision.PinUnneeded;
        return X509_V_OK;
    }
    refusedKey_ = decision.Certificate.Pin;
    refusal_ = decision;
    return decision.SystemReason != 0 ? static_cast<int>(decision.SystemReason)
                                      : X509_V_ERR_APPLICATION_VERIFICATION;
}

bool IsTrustFailure(CURLcode code) {
    return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH ||
           code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_ISSUER_ERROR;
}

bool KnownAddress::LookUp(const std::string& host, std::uint16_t port) {
    const auto address = ResolveIPv4(host);
    if (!address)
        return false;
    entry_ = host + ":" + std::to_string(port) + ":" + *address;
    return true;
}

curl_slist* KnownAddress::List() {
    if (entry_.empty())
        return nullptr;
    node_ = curl_slist{entry_.data(), nullptr};
    return &node_;
}

bool SetTimeLimits(const CurlApi& api, CURL* curl, long connectMs) {
    const Deadline deadline = NetworkDeadline();
    if (deadline.Passed())
        return false;
    const int whole = deadline.Cap(-1); // -1 without a deadline: libcurl's 0, no limit
    api.easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(whole < 0 ? 0 : std::max(whole, 1)));
    const int connect = deadline.Cap(static_cast<int>(
        connectMs > 0 ? std::min<long>(connectMs, kConnectPhaseLimitMs) : kConnectPhaseLimitMs));
    api.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                    static_cast<long>(connect < 0 ? 0 : std::max(connect, 1)));
    return true;
}

} // namespace pelorix::wininet::curl
