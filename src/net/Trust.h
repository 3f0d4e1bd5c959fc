#pragma once
// What a connection trusts, for every protocol alike (FTP with TLS, FTPS, SFTP, HTTPS and the
// mail clients): the stored trust text of the settings (FTPTrust, [SendMail] Trust) turned into
// the one rule the transport layers apply. Verification is never switched off: without a stored
// pin a TLS peer must verify against the system's authorities and match the host name; a stored
// pin replaces that check by the public key; an SSH server is trusted only by its stored key.

#include <string>
#include <string_view>

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

// The level-0 lines that tell the user what was seen, so they can decide to trust it.
std::string UntrustedCertificateLine(const std::string& seen_pin);
std::string UnknownHostKeyLine(const std::string& seen_fingerprint);
// The level-0 line for a protected connection this system offers no library for: nothing was
// sent, and nothing goes out unprotected instead.
std::string UnavailableConnectionLine();

} // namespace pelorix
