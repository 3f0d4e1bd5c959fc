#include "platform/ProfileFile.h"

namespace pelorix {

// STUB
ProfileFile::ProfileFile(std::string path, FileWriter writer, mode_t newFileMode)
    : path_(std::move(path)), writer_(std::move(writer)), newFileMode_(newFileMode) {}
std::string ProfileFile::ReadString(std::string_view, std::string_view, std::string_view defaultValue,
                                    std::size_t) const {
    return std::string(defaultValue);
}
bool ProfileFile::HasKey(std::string_view, std::string_view) const {
    return false;
}
void ProfileFile::WriteString(std::string_view, std::string_view, std::string_view) {}
void ProfileFile::DeleteKey(std::string_view, std::string_view) {}
void ProfileFile::DeleteSection(std::string_view) {}
bool ProfileFile::Commit() {
    return false;
}

} // namespace pelorix
