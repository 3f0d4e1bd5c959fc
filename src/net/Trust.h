#pragma once
// What a connection trusts, for every protocol alike (FTP with TLS, FTPS, SFTP, HTTPS and the
// mail clients): the stored trust text of the settings (FTPTrust, [SendMail] Trust), and the
// one decision on what a server presented. Verification is never switched off: without a stored
// pin a TLS peer must verify against the system's authorities and match the host name; a stored
// pin adds the one key it names to what the authorities vouch for, it never takes their word
// away; an SSH server is trusted only by its stored key.
//
// The transport layers only pull the certificate chain (DER) or the SSH host key out of their
// library and hand it here, during the handshake. The decision is made here for all of them;
// reading a certificate needs the system's certificate library (Trust_posix.cpp: OpenSSL).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

enum class TrustKind {
    SystemAuthorities, // empty text: the system's CA store and the host name
    PublicKeyPin,      // "sha256//BASE64": base64 of the SHA-256 of the public key in DER
    HostKeyFingerprint // "SHA256:BASE64": an SSH host key as ssh-keygen -l prints it
};

struct TrustSetting {
    TrustKind Kind = TrustKind::SystemAuthorities;
    std::string Value; // the stored text, blanks around it removed; empty for the system's CAs
    bool Valid = true; // false for text that is neither of the two forms
};

TrustSetting ParseTrust(std::string_view text);

enum class TrustVerdict {
    Authorities,      // accepted: the chain verifies against the system's authorities and names the host
    StoredPin,        // accepted: the key is the stored one (public-key pin or SSH host key)
    UnknownAuthority, // the chain ends at an authority the system does not know
    SelfSigned,       // the certificate (or the chain's root) signed itself
    Expired,
    NotYetValid,
    WrongHostName,  // the certificate is issued for another name or address
    Unverifiable,   // unreadable, a broken signature, or nothing to read it with
    PinMismatch,    // a pin is stored, and the key is another one
    UnknownHostKey, // an SSH server, and no host key stored
    ChangedHostKey  // an SSH server whose key is not the stored one
};

// What a certificate shows. Texts are Latin-1; times are seconds since 1970 (UTC).
struct CertificateDescription {
    std::string Subject; // "CN=host,O=…"
    std::string Issuer;
    std::vector<std::string> AltNames; // "DNS:name", "IP:address"
    std::int64_t NotBefore = 0;
    std::int64_t NotAfter = 0;
    std::string Fingerprint; // SHA-256 of the certificate, "AB:CD:…"
    std::string Pin;         // "sha256//BASE64", as it would be stored
};

// What an SSH host key shows, as ssh-keygen -l prints it.
struct HostKeyDescription {
    std::string Type;        // "ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", …
    std::string Fingerprint; // "SHA256:BASE64" without padding, as it would be stored
};

struct TrustDecision {
    TrustVerdict Verdict = TrustVerdict::Unverifiable;
    // For PinMismatch: what the authorities said of the chain, so the refusal can say why the
    // certificate is not trusted without the pin either.
    TrustVerdict ChainVerdict = TrustVerdict::Unverifiable;
    std::string Host;      // the name or address the certificate was checked for
    std::string StoredKey; // the stored key of the same kind the peer no longer shows, if any
    // Accepted by the authorities while a pin is stored: the stored exception is not needed.
    bool PinUnneeded = false;
    // The certificate library's own code for a refused chain (OpenSSL's X509_V_ERR_…), so a
    // library that words the refusal itself can be told the real reason; 0 otherwise.
    long SystemReason = 0;
    CertificateDescription Certificate;
    HostKeyDescription HostKey;

    bool Accepted() const {
        return Verdict == TrustVerdict::Authorities || Verdict == TrustVerdict::StoredPin;
    }
    // Refused although a key of its kind is stored: the server's key changed since it was trusted.
    bool Changed() const { return !Accepted() && !StoredKey.empty(); }
    // What would have to be stored to trust this peer: the pin or the host key's fingerprint.
    const std::string& SeenKey() const {
        return Certificate.Pin.empty() ? HostKey.Fingerprint : Certificate.Pin;
    }
};

// A TLS server's chain (DER, the server's own certificate first) for host (a name or an
// address). It is accepted when it verifies against the system's authorities and names the
// host, or when its key is the pinned one.
TrustDecision CheckCertificateChain(const std::vector<std::string>& chain, const std::string& host,
                                    const TrustSetting& trust);
// An SSH server's host key (the key blob as on the wire); only a stored fingerprint trusts it.
TrustDecision CheckHostKey(std::string_view key, const TrustSetting& trust);

// The authorities chains are checked against: the system's store, or a bundle a test names
// (empty restores the system's).
void SetAuthorityFile(std::string file);
std::string AuthorityFile();

// The level-0 lines that tell the user what was seen, so they can decide to trust it.
std::string UntrustedCertificateLine(const std::string& seen_pin);
std::string UnknownHostKeyLine(const std::string& seen_fingerprint);
// The level-0 line for a protected connection this system offers no library for: nothing was
// sent, and nothing goes out unprotected instead.
std::string UnavailableConnectionLine();

} // namespace pelorix
