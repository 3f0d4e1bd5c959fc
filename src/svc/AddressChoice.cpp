#include "svc/AddressChoice.h"

#include "base/Latin1.h"
#include "svc/AddressScan6.h"

#include <array>

namespace pelorix {

namespace {

// The four numbers of a plain dotted address (decimal, each 0..255), else nothing.
std::optional<std::array<int, 4>> ParseDotted(std::string_view text) {
    std::array<int, 4> numbers{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        int value = 0;
        while (digits < text.size() && digits < 3 && text[digits] >= '0' && text[digits] <= '9')
            value = value * 10 + (text[digits++] - '0');
        if (digits == 0 || value > 255)
            return std::nullopt;
        numbers[i] = value;
        text.remove_prefix(digits);
    }
    if (!text.empty())
        return std::nullopt;
    return numbers;
}

} // namespace

bool IsPublishableIPv6(const HostAddress6& address) {
    const auto bytes = ParseIPv6(address.Address);
    return bytes && IsGlobalUnicast(*bytes) && !address.Deprecated && address.PreferredLifetime > 0 &&
           !address.Tentative && !address.DuplicateFound && !address.Temporary;
}

std::string ChooseIPv6Address(const std::vector<HostAddress6>& addresses, const std::string& publishedLast) {
    const HostAddress6* best = nullptr;
    for (const HostAddress6& address : addresses) {
        if (!IsPublishableIPv6(address))
            continue;
        if (!publishedLast.empty() && CanonicalIPv6(address.Address) == publishedLast)
            return publishedLast;
        if (best == nullptr || address.PreferredLifetime > best->PreferredLifetime)
            best = &address;
    }
    return best ? CanonicalIPv6(best->Address) : std::string();
}

std::optional<std::string> NonPublicIPv4Reason(std::string_view dotted) {
    const auto n = ParseDotted(dotted);
    if (!n)
        return std::nullopt;
    const int a = (*n)[0];
    const int b = (*n)[1];
    if (a == 100 && (b & 0xC0) == 64)
        return "Carrier-Grade-NAT";
    if (a == 10 || a == 127 || (a == 172 && (b & 0xF0) == 16) || (a == 192 && b == 168) ||
        (a == 169 && b == 254))
        return "privates Netz";
    return std::nullopt;
}

std::string NonPublicIPv4Line(const std::string& dotted, const std::string& reason) {
    // The system's texts are single-byte: a plain dash stands for the dash of the sentence.
    return "-IPv4-Adresse " + dotted + " ist nicht öffentlich ("_l1 + reason +
           ") - Routerbetrieb oder IPv6 verwenden";
}

} // namespace pelorix
