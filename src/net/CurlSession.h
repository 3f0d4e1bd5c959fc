#pragma once
// What the FTP connection and the HTTPS fetch, both on libcurl, share: the per-thread error
// state WinInet callers read, the authorities and the trust probe.

#include "net/CurlLibrary.h"

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelorix::wininet::curl {

// WinInet keeps the last error and the last server reply per thread; so do we.
extern thread_local std::uint32_t tLastError;
extern thread_local std::uint32_t tLastResponseError;
extern thread_local std::string tLastResponse;
extern thread_local std::string tLastReason;
extern thread_local std::string tLastUntrusted;

// A pin no key has: a TLS connection made with it fails right after the handshake, before a
// byte of the session is sent, and libcurl's report of the check names the key it saw.
inline constexpr const char* kProbePin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
// The same for an SSH host key: the check comes before the authentication.
inline constexpr const char* kProbeHostKey = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

// The bundle SetAuthorityFile named, empty for the system's store.
std::string AuthorityFile();

// libcurl reports each pin check as " public key hash: sha256//…"; the pin, or empty.
std::string PinSeenIn(const char* data, std::size_t size);

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

// The time limits of one transfer, cut to the calling thread's network deadline: the whole
// transfer's (none without a deadline) and the connect's (connectMs, 0 for libcurl's own). false,
// with nothing set, once the deadline has passed (libcurl would take a limit of 0 for none).
bool SetTimeLimits(const CurlApi& api, CURL* curl, long connectMs);

} // namespace pelorix::wininet::curl
