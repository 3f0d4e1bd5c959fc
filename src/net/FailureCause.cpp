#include "net/FailureCause.h"

#include "base/Latin1.h"
#include "net/InternetSession.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace pelorix {

namespace {

std::string LowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool ContainsAny(const std::string& text, std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(),
                       [&text](std::string_view word) { return text.find(word) != std::string::npos; });
}

} // namespace

std::string TimeoutCauseText() {
    return "Server antwortet nicht (Zeitüberschreitung)"_l1;
}

std::string WrongConnectionTypeCauseText() {
    return "Verbindungsart passt nicht zum Server - Einstellung \"Verbindung:\" prüfen"_l1;
}

std::string OversizedReplyCauseText() {
    return "Antwort des Servers zu groß oder ungültig"_l1;
}

std::string CertificateCauseText() {
    return "Zertifikat des Servers nicht akzeptiert";
}

std::string FailureCause(std::uint32_t error, const std::string& libraryText) {
    const std::string text = LowerAscii(libraryText);
    // What the TLS and SSH libraries say when the other end speaks something else.
    if (ContainsAny(text, {"wrong version number", "unknown protocol", "packet length too long",
                           "record layer failure"}))
        return WrongConnectionTypeCauseText();
    if (ContainsAny(text, {"too large", "too long", "too big"}))
        return OversizedReplyCauseText();
    if (error == wininet::kErrorInternetTimeout || ContainsAny(text, {"timed out", "timeout"}))
        return TimeoutCauseText();
    if (error == wininet::kErrorInternetSecurityFailure || ContainsAny(text, {"certificate"}))
        return CertificateCauseText();
    return {};
}

} // namespace pelorix
