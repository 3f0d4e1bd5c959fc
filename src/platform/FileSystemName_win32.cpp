#include "platform/FileSystemName.h"

#include <windows.h>

namespace pelorix {

// The system's ANSI calls take names in the Western European code page, whose letters are the
// system text's Latin-1 ones, so a name goes to them as it stands.
std::string FileSystemName(std::string_view text) {
    return std::string(text);
}

std::string ProgramDirectory() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "./";
    const std::string file(path, length);
    const auto separator = file.find_last_of("\\/");
    return separator == std::string::npos ? "./" : file.substr(0, separator + 1);
}

} // namespace pelorix
