#pragma once
// Base64 with the RFC 4648 alphabet, for the mail's encodings and the keys a server shows.

#include <string>
#include <string_view>

namespace pelorix {

// In one line, without line breaks, padded with "=".
std::string EncodeBase64(std::string_view bytes);
// Skips control characters and "=", maps unknown characters to 0, drops left-over bits.
std::string DecodeBase64(std::string_view text);

} // namespace pelorix
