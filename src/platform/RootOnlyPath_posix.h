#pragma once
// POSIX only: what root may rely on in the file system. A file, directory or link that
// someone else owns or may write could be swapped for a link to anything (/etc/shadow,
// root's .bashrc) at any moment, so root reads, writes and follows only entries that nobody
// but root could have put in place. Free functions; any thread.

#include <string>
#include <sys/types.h>

namespace pelorix {

struct RootOnlyCheck {
    // 0, or the errno why the path could not be followed (a missing entry, a loop of links).
    int error = 0;
    // The path with every link followed (as far as the walk came), as the file system names it.
    std::string resolvedPath;
    // Why root must not rely on it, in German (system text), naming the entry; empty when sound.
    std::string reason;
    bool Sound() const { return error == 0 && reason.empty(); }
};

// Walks path (as the file system names it) from "/" link by link, as the system would, and checks every entry
// it passes: each directory, each link and the entry itself must belong to root, and no directory or file may
// be writable by others or by a group other than root, except a directory with the sticky bit (such as /tmp),
// where only the owner of an entry may rename or remove it. followLast: a link as the last entry is followed
// too; otherwise the link itself is the entry checked.
RootOnlyCheck CheckRootOnly(const std::string& path, bool followLast = true);

// The entry a caller acts on for path. For root, links are followed one at a time only while
// each lies where nobody but root could have put it (the package's links from the program
// directory into the data directory); the first other link is the entry itself, to be
// replaced or refused rather than followed. Anyone else: path as it stands.
std::string EntryToUse(const std::string& path);

// open(2) of EntryToUse(path); for root never through a link that did not pass (O_NOFOLLOW,
// ELOOP then).
int OpenEntry(const std::string& path, int flags, mode_t mode = 0);

} // namespace pelorix
