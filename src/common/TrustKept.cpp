#include "common/TrustKept.h"

#include <sstream>

namespace pelorix {

namespace {

std::string EntryHead(int mode, const std::string& host, int port) {
    return std::to_string(mode) + " " + host + " " + std::to_string(port) + " ";
}

// Neither a host nor a key holds a blank or a ";": such text could not be kept apart.
bool Keepable(const std::string& text) {
    return !text.empty() && text.find_first_of(" ;") == std::string::npos;
}

} // namespace

std::string KeptTrustFor(const std::string& kept, int mode, const std::string& host, int port) {
    const std::string head = EntryHead(mode, host, port);
    std::istringstream entries(kept);
    for (std::string entry; std::getline(entries, entry, ';');)
        if (entry.size() > head.size() && entry.compare(0, head.size(), head) == 0)
            return entry.substr(head.size());
    return {};
}

std::string WithKeptTrust(const std::string& kept, int mode, const std::string& host, int port,
                          const std::string& key) {
    const std::string head = EntryHead(mode, host, port);
    std::string list;
    std::istringstream entries(kept);
    for (std::string entry; std::getline(entries, entry, ';');)
        if (!entry.empty() && entry.compare(0, head.size(), head) != 0)
            list += (list.empty() ? "" : ";") + entry;
    if (Keepable(host) && Keepable(key))
        list += (list.empty() ? "" : ";") + head + key;
    return list;
}

} // namespace pelorix
