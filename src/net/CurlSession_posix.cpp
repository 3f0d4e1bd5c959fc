#include "net/CurlSession.h"

#include "net/InternetSession.h"
#include "platform/NetworkDeadline.h"
#include "platform/TcpSocket.h"

#include <algorithm>
#include <climits>
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

std::mutex authorityMutex;
std::string authorityFile;

std::string AuthorityFile() {
    std::lock_guard lock(authorityMutex);
    return authorityFile;
}

std::string PinSeenIn(const char* data, std::size_t size) {
    const std::string text(data, size);
    constexpr std::string_view kMarker = "public key hash: ";
    const auto at = text.find(kMarker);
    if (at == std::string::npos)
        return {};
    const auto start = at + kMarker.size();
    const auto end = text.find_first_of(" \r\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
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
    const int connect =
        connectMs > 0 ? deadline.Cap(static_cast<int>(std::min<long>(connectMs, INT_MAX))) : whole;
    api.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                    static_cast<long>(connect < 0 ? 0 : std::max(connect, 1)));
    return true;
}

} // namespace pelorix::wininet::curl

namespace pelorix::wininet {

void SetAuthorityFile(std::string file) {
    std::lock_guard lock(curl::authorityMutex);
    curl::authorityFile = std::move(file);
}

} // namespace pelorix::wininet
