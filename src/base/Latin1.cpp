#include "base/Latin1.h"

namespace pelorix {

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size() + latin1.size() / 8);
    for (char ch : latin1) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

// Length of the UTF-8 sequence that starts with lead, 0 for a byte that cannot start one.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 0;
}

} // namespace

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t len = SequenceLength(lead);
        bool complete = len != 0 && i + len <= utf8.size();
        for (std::size_t k = 1; complete && k < len; ++k)
            complete = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!complete) {
            out += '?';
            ++i;
            continue;
        }
        unsigned code = len == 1 ? lead : (lead & (0xFFu >> (len + 1)));
        for (std::size_t k = 1; k < len; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
        // An overlong form ("\xC0\x80" for NUL) is no character: it would smuggle control bytes.
        const bool overlong =
            (len == 2 && code < 0x80) || (len == 3 && code < 0x800) || (len == 4 && code < 0x10000);
        out += code <= 0xFF && !overlong ? static_cast<char>(code) : '?';
        i += len;
    }
    return out;
}

} // namespace pelorix
