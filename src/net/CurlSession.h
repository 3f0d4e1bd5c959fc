#pragma once
// What the FTP connection and the HTTPS fetch, both on libcurl, share: the per-thread error
// state WinInet callers read and the check of the server's certificate or key.

#include "net/CurlLibrary.h"
#include "net/Trust.h"
#include "platform/OpenSsl.h"

#include "net/CurlLibrary.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelorix::wininet::curl {

// WinInet keeps the last error and the last server reply per thread; so do we.
extern thread_local std::uint32_t tLastError;
extern thread_local std::uint32_t tLastResponseError;
extern thread_local std::string tLastResponse;
extern thread_local std::string tLastReason;
extern thread_local std::string tLastUntrusted;
extern thread_local TrustDecision tLastRefusal;
extern thread_local bool tLastPinUnneeded;

// The trust module's check of what a TLS server presents (net/Trust.h), made in the connection
// itself: libcurl hands the certificate chain over through the OpenSSL context it sets up (its
// verify step is replaced by the check). A refusal ends the handshake, before a byte of the session, let
// alone a password, goes out.
class PeerCheck {
public:
    PeerCheck() = default;
    PeerCheck(const PeerCheck&) = delete;
    PeerCheck& operator=(const PeerCheck&) = delete;

    void Expect(std::string host, TrustSetting trust);
    // Sets the options that hand the chain over; false when this libcurl cannot, and then no
    // connection may be made with it.
    bool ApplyToTls(const CurlApi& api, CURL* curl);
    // What the last refused server showed, as it would be stored ("sha256//…");
    // empty when nothing was refused since Forget.
    const std::string& RefusedKey() const { return refusedKey_; }
    // The whole decision of the last refusal (what the server showed, and why).
    const TrustDecision& Refusal() const { return refusal_; }
    // A stored pin was not needed: the authorities vouched for the server (kept for the whole
    // session, whose later calls reuse the connection without a new check).
    bool PinUnneeded() const { return pinUnneeded_; }
    void Forget() {
        refusedKey_.clear();
        refusal_ = {};
    }

private:
    static CURLcode OnSslContext(CURL* curl, void* context, void* self);
    int CheckChain(const std::vector<std::string>& chain);

    std::string host_;
    TrustSetting trust_;
    std::string refusedKey_;
    TrustDecision refusal_;
    bool pinUnneeded_ = false;
    ChainCheck chainCheck_ = [this](const std::vector<std::string>& chain) { return CheckChain(chain); };
};

bool IsTrustFailure(CURLcode code);

// libcurl waits for its own resolver thread however long a name server stalls it, past every
// time limit (only a "quick exit" would leave the thread behind, and the library is unloaded
// while idle, under such a thread's feet). So the name is looked up beforehand, within the
// calling thread's network deadline (platform/NameLookup.h), and libcurl is given the address
// (CURLOPT_RESOLVE) and never asks a name server itself.
class KnownAddress {
public:
    KnownAddress() = default;
    KnownAddress(const KnownAddress&) = delete;
    KnownAddress& operator=(const KnownAddress&) = delete;

    // Looks host up; false when it did not resolve before the deadline.
    bool LookUp(const std::string& host, std::uint16_t port);
    bool Known() const { return !entry_.empty(); }
    // The list for CURLOPT_RESOLVE; valid while this object lives unchanged.
    curl_slist* List();

private:
    std::string entry_;
    curl_slist node_{};
};

// libcurl counts the TLS or SSH handshake (and FTP's greeting and login) as part of connecting:
// however long a caller allows for connecting, a server that accepts and then stalls ends the
// attempt after this long. A transfer that keeps moving bytes is bounded by the whole limit only.
inline constexpr long kConnectPhaseLimitMs = 60000;

// The time limits of one transfer, cut to the calling thread's network deadline: the whole
// transfer's (none without a deadline) and the connect phase's (connectMs, at most
// kConnectPhaseLimitMs; 0 for that limit alone). false,
// with nothing set, once the deadline has passed (libcurl would take a limit of 0 for none).
bool SetTimeLimits(const CurlApi& api, CURL* curl, long connectMs);

} // namespace pelorix::wininet::curl
