#include "platform/ProfileFile.h"

#include "platform/ProfileText.h"

#include <algorithm>

namespace pelorix {

std::string ReadProfileText(const std::string& path, std::string_view section, std::string_view key,
                            std::string_view defaultValue, std::size_t maxLength) {
    return ProfileFile(path).ReadString(section, key, defaultValue, maxLength);
}

int WriteProfileText(const std::string& path, std::string_view section, std::optional<std::string_view> key,
                     std::optional<std::string_view> value) {
    ProfileFile file(path);
    if (!key)
        file.DeleteSection(section);
    else if (!value)
        file.DeleteKey(section, *key);
    else
        file.WriteString(section, *key, *value);
    return file.Commit() ? 0 : file.LastError();
}

} // namespace pelorix

namespace pelorix::profile {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

unsigned char FoldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<unsigned char>(c + 32);
    return c;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

} // namespace

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return FoldCase(static_cast<unsigned char>(x)) == FoldCase(static_cast<unsigned char>(y));
    });
}

std::string EncodeValue(std::string_view value) {
    std::string out(value);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    const bool blankAtEdge = !out.empty() && (kBlanks.find(out.front()) != std::string_view::npos ||
                                              kBlanks.find(out.back()) != std::string_view::npos);
    const bool quoted = out.size() >= 2 && IsQuote(out.front()) && out.front() == out.back();
    if (blankAtEdge || quoted)
        return '"' + out + '"';
    return out;
}

std::string_view DecodeValue(std::string_view stored) {
    std::string_view value = Trim(stored);
    if (value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back())
        value = value.substr(1, value.size() - 2);
    return value;
}

} // namespace pelorix::profile
