#pragma once
// Whole-file writes that never leave a half-written file behind: the new contents go to a
// temporary file beside the old one, reach the disk, and a rename puts them in place. Used by
// the profile file, the service records and the filled pages. Besides, the bounded read of a
// whole file and the all-or-nothing append of the log. Free functions; any thread. Paths are
// the file system's names (see FileSystemName.h).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace pelorix {

// Owns one open descriptor and closes it on every path.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now; false (errno set) when the close failed, which matters for a file just written.
    bool Close();

private:
    int fd_;
};

// Puts all bytes into the open file fd; returns 0 or the errno of the failure. A replacement
// writes its temporary file through one of these, so tests can act out a full disk.
using FileWriter = std::function<int(int fd, std::string_view bytes)>;

// The ordinary writer: write(2) until every byte is out.
int WriteAllBytes(int fd, std::string_view bytes);

struct ReplaceOptions {
    // The mode of a file that does not exist yet, less the umask.
    mode_t newFileMode = 0666;
    // newFileMode is taken as it stands, without the umask; in a directory shared by a group
    // (setgid) the group gets what the owner gets, so every member can go on using the file.
    bool exactNewFileMode = false;
    // An existing file keeps its owner and group, as far as the writer may hand them on.
    bool keepOwner = false;
    // An existing file without write permission is left alone (EACCES or the access error),
    // although the rename would not need its write permission.
    bool keepWriteProtected = false;
    // An existing file keeps its owner, group and mode without fail: where the new file cannot
    // be given them (another owner, a group the writer is not in), where a rename would split
    // further hard links, or where no temporary file can be made beside it, the file is
    // rewritten in place instead, which its own permissions then decide. Only a regular file
    // is rewritten so (anything else gives EINVAL).
    bool inPlaceUnlessKept = false;
    // Temporary files of earlier replacements of the same file that a killed writer left
    // behind, older than an hour, are removed after the replacement.
    bool removeStaleTemporaries = false;
    // Through a symbolic link the file it points to is replaced rather than the link (a link
    // pointing nowhere is replaced itself).
    bool followLink = true;
    // Empty: WriteAllBytes.
    FileWriter writer;
};

// Replaces path by bytes in one rename. An existing file keeps its mode. Returns 0 or the errno
// of the failure; on failure the file is as it was (short of a failed rewrite in place) and no
// temporary file is left.
int ReplaceWholeFile(const std::string& path, std::string_view bytes, const ReplaceOptions& options = {});

// Reads a whole regular file of at most maxBytes. A FIFO, a device or a larger file is refused
// (false) without waiting on it or filling memory; for a larger file *oversize (when given)
// tells its size, and stays 0 otherwise.
bool ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                     std::uintmax_t* oversize = nullptr);

// Appends all of text or nothing: a write cut short (a full disk) is taken back. A missing file
// is created with exactly newFileMode, through a symbolic link at its target. Returns 0 or the
// errno of the failure.
int AppendWholeText(const std::string& path, std::string_view text, mode_t newFileMode);

} // namespace pelorix
