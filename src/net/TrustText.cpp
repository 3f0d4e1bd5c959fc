#include "net/TrustText.h"

#include "base/Latin1.h"
#include "platform/HelperProcess.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelorix {

namespace {

// Days since 1970-01-01 to the civil date (proleptic Gregorian), without the C library's
// time zone functions, which differ between the systems.
std::string DateText(std::int64_t seconds, bool withTime) {
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t inDay = seconds - days * 86400;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    if (withTime)
        std::snprintf(text, sizeof text, "%02lld.%02lld.%04lld %02lld:%02lld UTC",
                      static_cast<long long>(day), static_cast<long long>(month),
                      static_cast<long long>(year), static_cast<long long>(inDay / 3600),
                      static_cast<long long>(inDay / 60 % 60));
    else
        std::snprintf(text, sizeof text, "%02lld.%02lld.%04lld", static_cast<long long>(day),
                      static_cast<long long>(month), static_cast<long long>(year));
    return text;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

// The names a certificate is issued for, without their "DNS:"/"IP:" marks; the subject's
// common name when it has no alternative names.
std::string IssuedFor(const CertificateDescription& certificate) {
    std::vector<std::string> names;
    for (const std::string& name : certificate.AltNames)
        names.push_back(name.substr(name.find(':') + 1));
    if (names.empty()) {
        const auto cn = certificate.Subject.find("CN=");
        if (cn != std::string::npos)
            names.push_back(certificate.Subject.substr(cn + 3, certificate.Subject.find(',', cn) - cn - 3));
    }
    return names.empty() ? "?" : Joined(names, ", ");
}

// ssh-keygen -l's name of a key type.
std::string KeyTypeName(const std::string& type) {
    if (type == "ssh-ed25519")
        return "ED25519";
    if (type.rfind("ecdsa-", 0) == 0)
        return "ECDSA";
    if (type == "ssh-rsa")
        return "RSA";
    if (type == "ssh-dss")
        return "DSA";
    return type;
}

bool IsHostKey(const TrustDecision& decision) {
    return !decision.HostKey.Fingerprint.empty() || decision.Verdict == TrustVerdict::UnknownHostKey ||
           decision.Verdict == TrustVerdict::ChangedHostKey;
}

// The hex fingerprint split after 16 bytes, at a colon.
std::string FingerprintLines(const std::string& hex) {
    constexpr std::size_t kHalf = 16 * 3;
    return hex.size() > kHalf ? hex.substr(0, kHalf) + "\n" + hex.substr(kHalf) : hex;
}

std::string Description(const TrustDecision& decision) {
    if (IsHostKey(decision))
        return "Schlüsseltyp: "_l1 + KeyTypeName(decision.HostKey.Type) + "\nFingerabdruck:\n" +
               decision.HostKey.Fingerprint;
    const CertificateDescription& c = decision.Certificate;
    std::string text = "Inhaber: " + c.Subject + "\n";
    if (!c.AltNames.empty())
        text += "Alternative Namen: " + Joined(c.AltNames, ", ") + "\n";
    text += "Aussteller: " + c.Issuer + "\n";
    text += "Gültig von: "_l1 + DateText(c.NotBefore, true) + "\nGültig bis: "_l1 +
            DateText(c.NotAfter, true) + "\n";
    text += "SHA-256-Fingerabdruck:\n" + FingerprintLines(c.Fingerprint);
    return text;
}

std::string ServerLine(const TrustDecision& decision) {
    return decision.Host.empty() ? std::string() : "Server: " + decision.Host + "\n";
}

} // namespace

std::string RefusalReasonText(const TrustDecision& decision) {
    const TrustVerdict verdict =
        decision.Verdict == TrustVerdict::PinMismatch ? decision.ChainVerdict : decision.Verdict;
    switch (verdict) {
    case TrustVerdict::UnknownAuthority:
        return "unbekannte Zertifizierungsstelle";
    case TrustVerdict::SelfSigned:
        return "selbst signiert";
    case TrustVerdict::Expired:
        return "abgelaufen am " + DateText(decision.Certificate.NotAfter, false);
    case TrustVerdict::NotYetValid:
        return "noch nicht gültig"_l1;
    case TrustVerdict::WrongHostName:
        return "ausgestellt für "_l1 + IssuedFor(decision.Certificate) + " statt für "_l1 + decision.Host;
    case TrustVerdict::UnknownHostKey:
        return "unbekannt";
    case TrustVerdict::ChangedHostKey:
        return "geändert"_l1;
    default:
        return "nicht prüfbar"_l1;
    }
}

std::string RefusalLine(const TrustDecision& decision) {
    if (IsHostKey(decision))
        return decision.Changed() ? "-SFTP-Schlüssel geändert: "_l1 + decision.HostKey.Fingerprint
                                  : UnknownHostKeyLine(decision.HostKey.Fingerprint);
    if (decision.Changed())
        return "-Zertifikat geändert: "_l1 + decision.Certificate.Pin;
    if (decision.Certificate.Subject.empty() && decision.Certificate.Fingerprint.empty())
        return UntrustedCertificateLine(decision.Certificate.Pin);
    return "-Zertifikat nicht vertrauenswürdig ("_l1 + RefusalReasonText(decision) +
           "): " + decision.Certificate.Pin;
}

std::string PinUnneededLine() {
    return "+Zertifikat von anerkannter Zertifizierungsstelle, gespeicherte Ausnahme nicht mehr nötig"_l1;
}

std::string TrustQuestionText(const TrustDecision& decision) {
    const std::string head = IsHostKey(decision)
                                 ? "SFTP-Schlüssel unbekannt"_l1
                                 : "Zertifikat nicht vertrauenswürdig: "_l1 + RefusalReasonText(decision);
    return head + "\n\n" + ServerLine(decision) + Description(decision) +
           "\n\nDiesem Server künftig vertrauen?"_l1;
}

std::string TrustChangeWarningText(const TrustDecision& decision) {
    const std::string what = IsHostKey(decision) ? "SFTP-Schlüssel"_l1 : "Zertifikat";
    const std::string subject = decision.Host.empty() ? "des Servers" : "des Servers " + decision.Host;
    return "WARNUNG: Das " + what + " " + subject +
           " hat sich geändert, seit ihm vertraut wurde.\n"
           "Das kann ein Angriff sein: jemand gibt sich als dieser Server aus. Vertrauen Sie dem neuen "
           "Schlüssel nur, wenn der Betreiber des Servers den Wechsel bestätigt.\n\n"
           "Bisher vertraut:\n"_l1 +
           decision.StoredKey + "\n\nJetzt gezeigt:\n" + decision.SeenKey() + "\n" +
           (IsHostKey(decision) ? std::string() : "Grund: " + RefusalReasonText(decision) + "\n") +
           ServerLine(decision) + Description(decision) + "\n\nDem neuen Schlüssel vertrauen?"_l1;
}

std::string TrustChangeConfirmationText() {
    return "Den bisher vertrauten Schlüssel wirklich durch den neuen ersetzen?\n"
           "Wenn der Schlüssel nicht auf Ihren Wunsch gewechselt wurde, antworten Sie mit Nein."_l1;
}

std::string PackTrustDecision(const TrustDecision& d) {
    const CertificateDescription& c = d.Certificate;
    return PackFields({std::to_string(static_cast<int>(d.Verdict)),
                       std::to_string(static_cast<int>(d.ChainVerdict)), std::to_string(d.SystemReason),
                       d.Host, d.StoredKey, d.PinUnneeded ? "1" : "0", c.Subject, c.Issuer,
                       PackFields(c.AltNames), std::to_string(c.NotBefore), std::to_string(c.NotAfter),
                       c.Fingerprint, c.Pin, d.HostKey.Type, d.HostKey.Fingerprint});
}

std::optional<TrustDecision> UnpackTrustDecision(const std::string& bytes) {
    const auto f = UnpackFields(bytes);
    if (!f || f->size() != 15)
        return std::nullopt;
    const auto names = UnpackFields((*f)[8]);
    if (!names)
        return std::nullopt;
    try {
        constexpr int kLast = static_cast<int>(TrustVerdict::ChangedHostKey);
        const int verdict = std::stoi((*f)[0]);
        const int chainVerdict = std::stoi((*f)[1]);
        if (verdict < 0 || verdict > kLast || chainVerdict < 0 || chainVerdict > kLast)
            return std::nullopt;
        TrustDecision d;
        d.Verdict = static_cast<TrustVerdict>(verdict);
        d.ChainVerdict = static_cast<TrustVerdict>(chainVerdict);
        d.SystemReason = std::stol((*f)[2]);
        d.Host = (*f)[3];
        d.StoredKey = (*f)[4];
        d.PinUnneeded = (*f)[5] == "1";
        d.Certificate.Subject = (*f)[6];
        d.Certificate.Issuer = (*f)[7];
        d.Certificate.AltNames = *names;
        d.Certificate.NotBefore = std::stoll((*f)[9]);
        d.Certificate.NotAfter = std::stoll((*f)[10]);
        d.Certificate.Fingerprint = (*f)[11];
        d.Certificate.Pin = (*f)[12];
        d.HostKey.Type = (*f)[13];
        d.HostKey.Fingerprint = (*f)[14];
        return d;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace pelorix
