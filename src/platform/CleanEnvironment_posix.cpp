#include "platform/CleanEnvironment_posix.h"

#include <string_view>

namespace pelorix {

namespace {

bool Named(std::string_view entry, std::string_view name) {
    return entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=';
}

bool NamesTheUser(std::string_view entry) {
    return Named(entry, "HOME") || Named(entry, "USER") || Named(entry, "LOGNAME");
}

bool Kept(std::string_view entry) {
    return Named(entry, "PATH") || Named(entry, "LANG") || Named(entry, "LANGUAGE") ||
           entry.starts_with("LC_") || entry.starts_with("PELORIX_") || NamesTheUser(entry);
}

} // namespace

std::vector<std::string> CleanEnvironment(const char* const* from, const EnvironmentAccount* account) {
    std::vector<std::string> kept;
    for (const char* const* entry = from; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        if (Kept(text) && !(account && NamesTheUser(text)))
            kept.emplace_back(text);
    }
    if (account) {
        kept.push_back("HOME=" + account->Home);
        kept.push_back("USER=" + account->Name);
        kept.push_back("LOGNAME=" + account->Name);
    }
    return kept;
}

} // namespace pelorix
