#include "platform/FileSystemName.h"

#include "base/Latin1.h"

namespace pelorix {

std::string Utf8Name(std::string_view text) {
    return Latin1ToUtf8(text);
}

std::string SystemTextOfName(std::string_view name) {
    return Utf8ToLatin1(name);
}

} // namespace pelorix
