#include "platform/FileSystemName.h"

#include <climits>
#include <unistd.h>

namespace pelorix {

std::string FileSystemName(std::string_view text) {
    return Utf8Name(text);
}

std::string ProgramDirectory() {
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0)
        return "./";
    path.resize(static_cast<std::size_t>(length));
    // Inside the system the directory is text like every other path of the settings.
    return SystemTextOfName(path.substr(0, path.rfind('/') + 1));
}

} // namespace pelorix
