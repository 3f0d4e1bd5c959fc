// The HTTPS GET of an address page, on libcurl like the FTP connection.
#include "net/CurlLibrary.h"
#include "net/CurlSession.h"
#include "net/InternetSession.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace pelorix::wininet {

using namespace curl;

namespace {

struct HttpsExchange {
    std::string response;
    std::size_t maxBytes = 0;
    PeerCheck peerCheck;

    static size_t Take(char* data, size_t size, size_t count, void* p) {
        auto* self = static_cast<HttpsExchange*>(p);
        const size_t length = size * count;
        const size_t room = self->maxBytes - std::min(self->maxBytes, self->response.size());
        self->response.append(data, std::min(length, room));
        return length <= room ? length : 0; // more than the limit ends the exchange
    }
};

// The name or address the server's certificate must be issued for.
std::string HostOfUrl(const std::string& url) {
    const auto scheme = url.find("://");
    std::string rest = scheme == std::string::npos ? url : url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    rest = rest.substr(rest.find('@') + 1);
    if (!rest.empty() && rest.front() == '[')
        return rest.substr(1, rest.find(']') - 1);
    return rest.substr(0, rest.find(':'));
}

std::uint32_t HttpsErrorNumber(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_URL_MALFORMAT:
        return kErrorInternetNameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return kErrorInternetCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
        return kErrorInternetTimeout;
    default:
        return IsTrustFailure(code) ? kErrorInternetSecurityFailure : kErrorInternetConnectionAborted;
    }
}

// The host and port an https URL names; false for one this reading does not follow, which is
// then left to libcurl.
bool HostAndPort(const std::string& url, std::string& host, std::uint16_t& port) {
    constexpr std::string_view kScheme = "https://";
    if (url.compare(0, kScheme.size(), kScheme) != 0)
        return false;
    const std::size_t start = kScheme.size();
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    host = url.substr(start, end - start);
    if (host.find_first_of("@[]") != std::string::npos)
        return false;
    port = 443;
    const std::size_t colon = host.find(':');
    if (colon != std::string::npos) {
        const char* digits = host.data() + colon + 1;
        const auto [stop, problem] = std::from_chars(digits, host.data() + host.size(), port);
        if (problem != std::errc() || stop != host.data() + host.size() || port == 0)
            return false;
        host.erase(colon);
    }
    return !host.empty();
}

} // namespace

bool FetchHttps(const std::string& url, std::uint32_t limitMs, std::size_t maxBytes, std::string& response,
                std::uint32_t& error, std::string& reason) {
    response.clear();
    tLastUntrusted.clear();
    tLastRefusal = {};
    CurlHold api;
    if (!api.Take(reason)) {
        error = kErrorInternetInternalError;
        return false;
    }
    CURL* curl = api->easy_init();
    if (!curl) {
        error = kErrorInternetInternalError;
        reason = "curl_easy_init failed";
        return false;
    }
    HttpsExchange exchange;
    exchange.maxBytes = maxBytes;
    char errorText[CURL_ERROR_SIZE] = {};
    exchange.peerCheck.Expect(HostOfUrl(url), TrustSetting{});
    // The whole fetch, its name look-up included, ends within the limit.
    const ScopedNetworkDeadline fetch(Deadline::In(SystemClock::Instance(), limitMs));
    KnownAddress address;
    std::string host;
    std::uint16_t port = 0;
    if (HostAndPort(url, host, port) && !address.LookUp(host, port)) {
        api->easy_cleanup(curl);
        error = kErrorInternetNameNotResolved;
        reason = "Could not resolve host: " + host;
        return false;
    }
    auto setup = [&] {
        api->easy_setopt(curl, CURLOPT_URL, url.c_str());
        api->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
        api->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        api->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        api->easy_setopt(curl, CURLOPT_PROXY, "");
        api->easy_setopt(curl, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
        api->easy_setopt(curl, CURLOPT_RESOLVE, address.List());
        api->easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
        api->easy_setopt(curl, CURLOPT_HEADERFUNCTION, &HttpsExchange::Take);
        api->easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
        api->easy_setopt(curl, CURLOPT_WRITEFUNCTION, &HttpsExchange::Take);
        api->easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
        if (!SetTimeLimits(*api, curl, 0))
            return CURLE_OPERATION_TIMEDOUT;
        // Without the check no connection is made at all: nothing else would judge the server.
        return exchange.peerCheck.ApplyToTls(*api, curl) ? CURLE_OK : CURLE_SSL_CERTPROBLEM;
    };
    CURLcode code = setup();
    if (code == CURLE_OK)
        code = api->easy_perform(curl);
    // A response cut at the limit is still an answer: what was read is scanned.
    const bool cut = code == CURLE_WRITE_ERROR && exchange.response.size() >= maxBytes;
    const bool ok = code == CURLE_OK || cut;
    if (!ok) {
        error = HttpsErrorNumber(code);
        reason = errorText[0] ? errorText : "";
        if (code == CURLE_PEER_FAILED_VERIFICATION) {
            tLastUntrusted = exchange.peerCheck.RefusedKey();
            tLastRefusal = exchange.peerCheck.Refusal();
        }
    }
    api->easy_cleanup(curl);
    response = std::move(exchange.response);
    return ok;
}

} // namespace pelorix::wininet
