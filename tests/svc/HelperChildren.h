#pragma once
// The helper processes this test program has started and that still run: found by their name
// among the children of every thread, so a test can end one the way a crash would.

#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pelorix::test {

inline std::vector<pid_t> HelperChildren() {
    std::vector<pid_t> helpers;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream children(task.path() / "children");
        pid_t pid = 0;
        while (children >> pid) {
            std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
            std::string name;
            std::getline(cmdline, name, '\0');
            if (name == "PelorixHelper")
                helpers.push_back(pid);
        }
    }
    return helpers;
}

} // namespace pelorix::test
