#include "platform/InstanceLock.h"

#include "platform/FileSystemName.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace pelorix {

TInstanceLock::TInstanceLock(const std::string& directory) {
    // Close-on-exec: a helper the service starts must not keep the lock after the service ends.
    const int fd = ::open(FileSystemName(directory.empty() ? "." : directory).c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        takenByOther_ = errno == EWOULDBLOCK;
        ::close(fd);
        return;
    }
    handle_ = fd;
}

TInstanceLock::~TInstanceLock() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
}

} // namespace pelorix
