#pragma once
// The part of the trust decision only the system's certificate library can do (OpenSSL on
// Linux, later the Windows certificate functions): read a certificate, verify a chain against
// the authorities, hash. Everything else of the decision lives in Trust.cpp, once.

#include "net/Trust.h"

#include <string>
#include <string_view>
#include <vector>

namespace pelorix::trust {

struct ChainReading {
    bool Readable = false; // the server's own certificate could be decoded
    // Subject, issuer, alternative names and validity; the hashes are added by the caller.
    CertificateDescription Certificate;
    std::string PublicKeyDer; // the certificate's SubjectPublicKeyInfo
    // Against the system's authorities and for host, when asked for.
    TrustVerdict Verdict = TrustVerdict::Unverifiable;
    long SystemReason = 0;
};

// Reads chain (DER, the server's own first) and, with verify, checks it against the
// authorities (AuthorityFile() or the system's store) for host.
ChainReading ReadChain(const std::vector<std::string>& chain, const std::string& host, bool verify);

// The SHA-256 of data (32 bytes), empty when no library is at hand.
std::string Sha256(std::string_view data);

} // namespace pelorix::trust
