#include "platform/FileSystemName.h"

namespace pelorix {

std::string Utf8Name(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char ch : text) {
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

std::string SystemTextOfName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        if (lead < 0x80) {
            out += name[i++];
            continue;
        }
        // Only two-byte sequences can stand for a Latin-1 character (U+0080 to U+00FF).
        const bool latin1 = (lead == 0xC2 || lead == 0xC3) && i + 1 < name.size() &&
                            (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80;
        if (latin1) {
            out += static_cast<char>(((lead & 0x1F) << 6) | (static_cast<unsigned char>(name[i + 1]) & 0x3F));
            i += 2;
            continue;
        }
        out += '?';
        // Skip the rest of the sequence so that one character gives one '?'.
        ++i;
        while (i < name.size() && (static_cast<unsigned char>(name[i]) & 0xC0) == 0x80)
            ++i;
    }
    return out;
}

} // namespace pelorix
