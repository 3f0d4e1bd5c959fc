#include "platform/FileReplace.h"

#include <io.h>

#include <cerrno>
#include <fcntl.h>

namespace pelorix {

// STUB
FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::_close(fd_);
}
bool FileDescriptor::Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::_close(fd) == 0;
}
int WriteAllBytes(int, std::string_view) {
    return EIO;
}
int ReplaceWholeFile(const std::string&, std::string_view, const ReplaceOptions&) {
    return EIO;
}
bool ReadRegularFile(const std::string&, std::size_t, std::string&) {
    return false;
}
int AppendWholeText(const std::string&, std::string_view, mode_t) {
    return EIO;
}

} // namespace pelorix
