#include "platform/ProfileFile.h"

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
