#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace pelorix::test {

void TempDir::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string TempDir::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(const std::string& name) const {
    return std::filesystem::exists(File(name));
}

} // namespace pelorix::test
