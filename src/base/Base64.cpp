#include "base/Base64.h"

namespace pelorix {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

unsigned Byte(char c) {
    return static_cast<unsigned char>(c);
}

int Base64Value(char c) {
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    return 0;
}

} // namespace

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = Byte(bytes[i]) << 16 | Byte(bytes[i + 1]) << 8 | Byte(bytes[i + 2]);
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += kBase64Alphabet[v >> 6 & 63];
        out += kBase64Alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const unsigned v = Byte(bytes[i]) << 16;
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += "==";
    } else if (rest == 2) {
        const unsigned v = Byte(bytes[i]) << 16 | Byte(bytes[i + 1]) << 8;
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += kBase64Alphabet[v >> 6 & 63];
        out += '=';
    }
    return out;
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    unsigned accumulator = 0;
    int bits = 0;
    for (const char c : text) {
        if (Byte(c) <= 20 || c == '=')
            continue;
        accumulator = (accumulator * 64 + static_cast<unsigned>(Base64Value(c))) % 65536;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((accumulator >> bits) % 256);
        }
    }
    return out;
}

} // namespace pelorix
