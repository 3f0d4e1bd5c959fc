#pragma once
// IPv6 addresses as text: a strict parser, the canonical form, and the scan of an
// address-source answer for the first IPv6 address. Pages are hostile input, so the parser
// takes only what is an address and nothing near one: hex groups of one to four digits, at
// most one "::", an optional dotted IPv4 tail in the last 32 bits, no zone id, no value out of
// range. No state; callable from any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelorix {

using IPv6Bytes = std::array<std::uint8_t, 16>;

// The sixteen bytes of text when all of it is one IPv6 address, else nothing.
std::optional<IPv6Bytes> ParseIPv6(std::string_view text);

// The recommended text form: lower case, no leading zeros, the longest run of two or more zero
// groups (the first of equal ones) as "::".
std::string FormatIPv6(const IPv6Bytes& address);

// text in its recommended form, or empty when it is no IPv6 address.
std::string CanonicalIPv6(std::string_view text);

// 2000::/3, the global unicast addresses; unique local (fc00::/7), link-local (fe80::/10),
// loopback, multicast and the rest lie outside.
bool IsGlobalUnicast(const IPv6Bytes& address);

// The first IPv6 address in the body of an HTTP answer (the same part and length the IPv4 scan
// reads), in its recommended form; empty when there is none. An address counts only where it
// stands on its own: not glued to letters, digits or "_", not followed by a zone id.
std::string FindIPv6InAnswer(std::string_view answer);

} // namespace pelorix
