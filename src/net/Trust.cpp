#include "net/Trust.h"

#include "base/Latin1.h"

#include <algorithm>

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

} // namespace pelorix
