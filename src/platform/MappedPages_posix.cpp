#include "platform/MappedPages.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace pelorix {

std::set<std::string> MappedFiles() {
    std::set<std::string> files;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const auto slash = line.find('/');
        if (slash != std::string::npos)
            files.insert(line.substr(slash));
    }
    return files;
}

// libcrypto and p11-kit, which libcurl pulls in, mark themselves never to be unloaded, so after
// dlclose their code stays mapped with every page it touched. Relocated data (changed
// privately) stays.
void ReleaseLeftOverPages(const std::set<std::string>& broughtByLoad) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    bool candidate = false;
    auto release = [&] {
        if (candidate && end > start)
            ::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
        candidate = false;
    };
    while (std::getline(smaps, line)) {
        if (line.empty())
            continue;
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        const auto dash = first.find('-');
        if (dash != std::string::npos && first.back() != ':') { // a mapping's header line
            std::string perms, offset, device, inode, path;
            fields >> perms >> offset >> device >> inode;
            std::getline(fields >> std::ws, path);
            start = std::strtoull(first.substr(0, dash).c_str(), nullptr, 16);
            end = std::strtoull(first.substr(dash + 1).c_str(), nullptr, 16);
            candidate = perms.size() == 4 && perms[1] != 'w' && perms[3] == 'p' && !path.empty() &&
                        path.front() == '/' && path.find(" (deleted)") == std::string::npos &&
                        broughtByLoad.count(path) != 0;
        } else if (first == "Anonymous:" || first == "Private_Dirty:" || first == "Swap:") {
            long kib = 0;
            fields >> kib;
            if (kib != 0)
                candidate = false;
        } else if (first == "VmFlags:") { // the last line of a mapping
            release();
        }
    }
}

} // namespace pelorix
