#include "net/Trust.h"

#include "base/Base64.h"
#include "base/Latin1.h"
#include "net/TrustSystem.h"

#include <algorithm>
#include <mutex>

namespace pelorix {

namespace {

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool IsBase64(std::string_view text, bool padding_allowed) {
    if (text.empty())
        return false;
    const auto body_end = padding_allowed ? text.find_last_not_of('=') + 1 : text.size();
    if (body_end == 0 || text.size() - body_end > 2)
        return false;
    return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(body_end), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
               c == '/';
    });
}

std::mutex authorityMutex;
std::string authorityFile;

std::string HexWithColons(std::string_view bytes) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (!text.empty())
            text += ':';
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

// An SSH key blob starts with its type: a 32-bit big-endian length and the name.
std::string KeyTypeOf(std::string_view key) {
    if (key.size() < 4)
        return {};
    std::size_t length = 0;
    for (int i = 0; i < 4; ++i)
        length = length << 8 | static_cast<unsigned char>(key[static_cast<std::size_t>(i)]);
    return length <= key.size() - 4 ? std::string(key.substr(4, length)) : std::string();
}

} // namespace

TrustSetting ParseTrust(std::string_view text) {
    TrustSetting setting;
    const std::string_view value = Trimmed(text);
    setting.Value = std::string(value);
    if (value.empty())
        return setting;
    constexpr std::string_view kPin = "sha256//";
    constexpr std::string_view kFingerprint = "SHA256:";
    if (value.substr(0, kPin.size()) == kPin) {
        setting.Kind = TrustKind::PublicKeyPin;
        setting.Valid = IsBase64(value.substr(kPin.size()), true);
    } else if (value.substr(0, kFingerprint.size()) == kFingerprint) {
        setting.Kind = TrustKind::HostKeyFingerprint;
        setting.Valid = IsBase64(value.substr(kFingerprint.size()), false);
    } else {
        setting.Kind = TrustKind::PublicKeyPin;
        setting.Valid = false;
    }
    return setting;
}

std::string UntrustedCertificateLine(const std::string& seen_pin) {
    return "-Zertifikat nicht vertrauenswürdig: "_l1 + seen_pin;
}

std::string UnavailableConnectionLine() {
    return "-Verbindungsart auf diesem System nicht verfügbar"_l1;
}

std::string UnknownHostKeyLine(const std::string& seen_fingerprint) {
    return "-SFTP-Schlüssel unbekannt: "_l1 + seen_fingerprint;
}

TrustDecision CheckCertificateChain(const std::vector<std::string>& chain, const std::string& host,
                                    const TrustSetting& trust) {
    TrustDecision decision;
    decision.Host = host;
    const bool pinned = trust.Kind != TrustKind::SystemAuthorities;
    trust::ChainReading reading = trust::ReadChain(chain, host, true);
    const std::string certificateHash = reading.Readable ? trust::Sha256(chain.front()) : std::string();
    const std::string keyHash = reading.Readable ? trust::Sha256(reading.PublicKeyDer) : std::string();
    if (certificateHash.empty() || keyHash.empty())
        return decision;
    decision.Certificate = std::move(reading.Certificate);
    decision.Certificate.Fingerprint = HexWithColons(certificateHash);
    // The one place the pin of a public key is made: every protocol compares and shows this.
    decision.Certificate.Pin = "sha256//" + EncodeBase64(keyHash);
    decision.ChainVerdict = reading.Verdict;
    if (reading.Verdict == TrustVerdict::Authorities) {
        decision.Verdict = TrustVerdict::Authorities;
        decision.PinUnneeded = pinned;
    } else if (pinned) {
        // Text that is no pin (a broken one, an SSH fingerprint) matches no key, so the refusal
        // shows the pin that could be stored instead.
        decision.Verdict =
            trust.Value == decision.Certificate.Pin ? TrustVerdict::StoredPin : TrustVerdict::PinMismatch;
        if (decision.Verdict == TrustVerdict::PinMismatch && trust.Kind == TrustKind::PublicKeyPin &&
            trust.Valid)
            decision.StoredKey = trust.Value;
    } else {
        decision.Verdict = reading.Verdict;
        decision.SystemReason = reading.SystemReason;
    }
    return decision;
}

TrustDecision CheckHostKey(std::string_view key, const TrustSetting& trust) {
    TrustDecision decision;
    const std::string hash = trust::Sha256(key);
    if (key.empty() || hash.empty())
        return decision;
    decision.HostKey.Type = KeyTypeOf(key);
    std::string fingerprint = EncodeBase64(hash);
    fingerprint.erase(fingerprint.find_last_not_of('=') + 1); // ssh-keygen shows it without padding
    decision.HostKey.Fingerprint = "SHA256:" + fingerprint;
    if (trust.Kind != TrustKind::HostKeyFingerprint || !trust.Valid)
        decision.Verdict = TrustVerdict::UnknownHostKey;
    else
        decision.Verdict = trust.Value == decision.HostKey.Fingerprint ? TrustVerdict::StoredPin
                                                                       : TrustVerdict::ChangedHostKey;
    if (decision.Verdict == TrustVerdict::ChangedHostKey)
        decision.StoredKey = trust.Value;
    return decision;
}

void SetAuthorityFile(std::string file) {
    std::lock_guard lock(authorityMutex);
    authorityFile = std::move(file);
}

std::string AuthorityFile() {
    std::lock_guard lock(authorityMutex);
    return authorityFile;
}

} // namespace pelorix
