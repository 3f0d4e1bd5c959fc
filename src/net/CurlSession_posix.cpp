#include "net/CurlSession.h"

#include "net/InternetSession.h"

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

} // namespace pelorix::wininet::curl

namespace pelorix::wininet {

void SetAuthorityFile(std::string file) {
    std::lock_guard lock(curl::authorityMutex);
    curl::authorityFile = std::move(file);
}

} // namespace pelorix::wininet
