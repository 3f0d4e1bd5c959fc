#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace pelorix::test {

TempDir::TempDir() {
    std::string pattern = "/tmp/pelorix-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(path_, ec);
}

} // namespace pelorix::test
