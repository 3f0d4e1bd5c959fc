#pragma once
// What the FTP connection and the HTTPS fetch, both on libcurl, share: the per-thread error
// state WinInet callers read, the authorities and the trust probe.

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

} // namespace pelorix::wininet::curl
