#include "net/FtpReply.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace pelorix::wininet {

std::string BypassList(const std::string& bypass, char separator) {
    std::string out;
    std::string name;
    auto flush = [&] {
        if (!name.empty())
            out += out.empty() ? name : separator + name;
        name.clear();
    };
    for (char c : bypass) {
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t' || c == ';' || c == ',')
            flush();
        else
            name += c;
    }
    flush();
    return out;
}

std::string CommandVerb(const char* data, std::size_t size) {
    std::string verb;
    for (std::size_t i = 0; i < size && std::isalpha(static_cast<unsigned char>(data[i])); ++i)
        verb += static_cast<char>(std::toupper(static_cast<unsigned char>(data[i])));
    return verb;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool AnnouncesUtf8(const std::string& reply) {
    std::istringstream lines(reply);
    std::string line;
    while (std::getline(lines, line)) {
        const auto first = line.find_first_not_of(' ');
        const auto end = line.find_last_not_of(" \r");
        if (first != 0 && first != std::string::npos && end != std::string::npos) {
            std::string feature = line.substr(first, end - first + 1);
            std::transform(feature.begin(), feature.end(), feature.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            if (feature == "UTF8")
                return true;
        }
    }
    return false;
}

bool ParsePwdReply(const std::string& reply, std::string& path) {
    if (reply.rfind("257", 0) != 0)
        return false;
    const auto open = reply.find('"');
    if (open == std::string::npos)
        return false;
    std::string result;
    for (std::size_t i = open + 1; i < reply.size(); ++i) {
        if (reply[i] != '"') {
            result += reply[i];
            continue;
        }
        if (i + 1 < reply.size() && reply[i + 1] == '"') {
            result += '"';
            ++i;
            continue;
        }
        path = result;
        return true;
    }
    return false;
}

bool HostIsPlain(const std::string& host) {
    if (host.empty())
        return false;
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= ' ' || u >= 0x7F || c == '/' || c == '@' || c == '?' || c == '#' || c == '[' ||
               c == ']' || c == '\\' || c == '%' || c == ':';
    });
}

std::string JoinDirectory(const std::string& current, const std::string& relative) {
    if (current.empty())
        return relative;
    if (current.back() == '/')
        return current + relative;
    return current + "/" + relative;
}

} // namespace pelorix::wininet
