#include "svc/AddressScan6.h"

#include "svc/AddressScan.h"

#include <vector>

namespace pelorix {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsDecimal(char c) {
    return c >= '0' && c <= '9';
}

bool IsWordCharacter(char c) {
    return IsDecimal(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsAddressCharacter(char c) {
    return HexValue(c) >= 0 || c == ':' || c == '.';
}

// A dotted IPv4 address in decimal, without leading zeros (which some readers take for octal).
std::optional<std::array<std::uint8_t, 4>> ParseDottedTail(std::string_view text) {
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        int value = 0;
        while (digits < text.size() && IsDecimal(text[digits]) && digits < 3)
            value = value * 10 + (text[digits++] - '0');
        if (digits == 0 || value > 255 || (digits > 1 && text.front() == '0'))
            return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(value);
        text.remove_prefix(digits);
    }
    if (!text.empty())
        return std::nullopt;
    return bytes;
}

// The 16-bit groups of one side of "::" (or of the whole address), with an IPv4 tail allowed
// only where the side ends the address; false for anything else.
bool ParseGroups(std::string_view text, bool tailAllowed, std::vector<std::uint16_t>& groups) {
    if (text.empty())
        return true;
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = text.find(':', start);
        const std::string_view group =
            text.substr(start, colon == std::string_view::npos ? colon : colon - start);
        if (colon == std::string_view::npos && tailAllowed && group.find('.') != std::string_view::npos) {
            const auto tail = ParseDottedTail(group);
            if (!tail)
                return false;
            groups.push_back(static_cast<std::uint16_t>((*tail)[0] << 8 | (*tail)[1]));
            groups.push_back(static_cast<std::uint16_t>((*tail)[2] << 8 | (*tail)[3]));
            return true;
        }
        if (group.empty() || group.size() > 4)
            return false;
        unsigned value = 0;
        for (const char c : group) {
            const int digit = HexValue(c);
            if (digit < 0)
                return false;
            value = value << 4 | static_cast<unsigned>(digit);
        }
        groups.push_back(static_cast<std::uint16_t>(value));
        if (groups.size() > 8)
            return false;
        if (colon == std::string_view::npos)
            return true;
        start = colon + 1;
    }
}

// Cuts what cannot belong to an address off the ends of a run of address characters: a
// sentence's full stop, a single colon of a label in front ("IP:2001:db8::1") or behind.
std::string_view TrimRun(std::string_view run, std::size_t& offset) {
    while (!run.empty() && run.back() == '.')
        run.remove_suffix(1);
    if (run.size() >= 2 && run.back() == ':' && run[run.size() - 2] != ':')
        run.remove_suffix(1);
    if (run.size() >= 2 && run.front() == ':' && run[1] != ':') {
        run.remove_prefix(1);
        ++offset;
    }
    return run;
}

} // namespace

std::optional<IPv6Bytes> ParseIPv6(std::string_view text) {
    if (text.find(':') == std::string_view::npos)
        return std::nullopt;
    const std::size_t gap = text.find("::");
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    if (gap == std::string_view::npos) {
        if (!ParseGroups(text, true, head) || head.size() != 8)
            return std::nullopt;
    } else {
        const std::string_view before = text.substr(0, gap);
        const std::string_view after = text.substr(gap + 2);
        // One "::" only, and no third colon next to it.
        if (after.find("::") != std::string_view::npos || (!after.empty() && after.front() == ':'))
            return std::nullopt;
        if (!ParseGroups(before, false, head) || !ParseGroups(after, true, tail))
            return std::nullopt;
        if (head.size() + tail.size() > 7) // "::" stands for at least one group
            return std::nullopt;
    }
    IPv6Bytes bytes{};
    std::size_t at = 0;
    const auto put = [&bytes, &at](std::uint16_t group) {
        bytes[at++] = static_cast<std::uint8_t>(group >> 8);
        bytes[at++] = static_cast<std::uint8_t>(group & 0xFF);
    };
    for (const std::uint16_t group : head)
        put(group);
    at = 16 - 2 * tail.size();
    for (const std::uint16_t group : tail)
        put(group);
    return bytes;
}

std::string FormatIPv6(const IPv6Bytes& address) {
    std::array<unsigned, 8> groups{};
    for (std::size_t i = 0; i < 8; ++i)
        groups[i] = static_cast<unsigned>(address[2 * i] << 8 | address[2 * i + 1]);
    // The longest run of zero groups, at least two long.
    std::size_t bestStart = 8;
    std::size_t bestLength = 1;
    for (std::size_t i = 0; i < 8;) {
        std::size_t length = 0;
        while (i + length < 8 && groups[i + length] == 0)
            ++length;
        if (length > bestLength) {
            bestStart = i;
            bestLength = length;
        }
        i += length > 0 ? length : 1;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (groups[i] >> shift) & 0xF;
            if (digit == 0 && leading && shift > 0)
                continue;
            leading = false;
            text += kDigits[digit];
        }
    }
    return text;
}

std::string CanonicalIPv6(std::string_view text) {
    const auto bytes = ParseIPv6(text);
    return bytes ? FormatIPv6(*bytes) : std::string();
}

bool IsGlobalUnicast(const IPv6Bytes& address) {
    return (address[0] & 0xE0) == 0x20;
}

std::string FindIPv6InAnswer(std::string_view answer) {
    std::string_view t = answer;
    const std::size_t headerEnd = answer.find("\n\r\n");
    if (headerEnd != std::string_view::npos)
        t = answer.substr(headerEnd + 1);
    t = t.substr(0, kScanLimit);

    std::size_t i = 0;
    while (i < t.size()) {
        if (!IsAddressCharacter(t[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < t.size() && IsAddressCharacter(t[end]))
            ++end;
        std::size_t offset = i;
        const std::string_view candidate = TrimRun(t.substr(i, end - i), offset);
        const bool standsAlone =
            (offset == 0 || !IsWordCharacter(t[offset - 1])) &&
            (offset + candidate.size() >= t.size() ||
             (!IsWordCharacter(t[offset + candidate.size()]) && t[offset + candidate.size()] != '%'));
        if (standsAlone) {
            if (const auto bytes = ParseIPv6(candidate))
                return FormatIPv6(*bytes);
        }
        i = end;
    }
    return {};
}

} // namespace pelorix
