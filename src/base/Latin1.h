#pragma once
// Texts of the system are single-byte Latin-1 strings, on disk and on the wire. Source files
// are UTF-8, so every literal with a non-ASCII character goes through operator""_l1, which
// turns it into Latin-1 bytes at compile time (a character above U+00FF does not compile).
//
//     std::string s = "Änderungen werden erst nach Neustart des Dienstes wirksam!"_l1;

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace pelorix {

namespace detail {

template <std::size_t N> struct Utf8Literal {
    char bytes[N]{};
    consteval Utf8Literal(const char (&text)[N]) {
        for (std::size_t i = 0; i < N; ++i)
            bytes[i] = text[i];
    }
};

// Decodes the UTF-8 literal (only ever in constant evaluation, where a throw stops the build); writes Latin-1
// bytes to out when given, and returns their count.
template <std::size_t N> constexpr std::size_t DecodeUtf8Literal(const Utf8Literal<N>& lit, char* out) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < N;) {
        const auto lead = static_cast<unsigned char>(lit.bytes[i]);
        unsigned code = 0;
        if (lead < 0x80) {
            code = lead;
            i += 1;
        } else if ((lead & 0xE0) == 0xC0 && i + 2 < N) {
            code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(lit.bytes[i + 1]) & 0x3Fu);
            i += 2;
        } else {
            throw "literal holds a character outside Latin-1";
        }
        if (code > 0xFF)
            throw "literal holds a character outside Latin-1";
        if (out)
            out[count] = static_cast<char>(code);
        ++count;
    }
    return count;
}

template <Utf8Literal Lit> struct Latin1Literal {
    static constexpr std::size_t size = DecodeUtf8Literal(Lit, nullptr);
    static constexpr std::array<char, size + 1> bytes = [] {
        std::array<char, size + 1> out{};
        DecodeUtf8Literal(Lit, out.data());
        return out;
    }();
};

} // namespace detail

// Compile-time UTF-8 → Latin-1 for literals.
template <detail::Utf8Literal Lit> std::string operator""_l1() {
    using L = detail::Latin1Literal<Lit>;
    return std::string(L::bytes.data(), L::size);
}

// Latin-1 bytes → UTF-8 (for the GUI and for terminals).
std::string Latin1ToUtf8(std::string_view latin1);

// UTF-8 → Latin-1 bytes; characters outside Latin-1 and broken sequences become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

} // namespace pelorix

using pelorix::operator""_l1;
