#pragma once
// Whether root may run a program file: only when nobody but root could have written it or put
// it in place. The file and every directory on the way to it (after resolving symbolic links)
// must belong to root and be writable by nobody else. A root-owned directory with the sticky
// bit (such as /tmp) passes although everyone may write there, since then only the owner of an
// entry may rename or remove it, and each entry on the way is itself checked to be root's.
// Free function; any thread.

#include <string>

namespace pelorix {

struct ProgramTrust {
    // 0, or the errno why the program could not be looked at (missing, not reachable).
    int error = 0;
    bool trusted = false;
    // The program with every symbolic link resolved: what root then executes, so that nobody can
    // re-point a link between the check and the start.
    std::string resolvedPath;
    // Why it is not trusted, in German (Latin-1), naming the file or directory.
    std::string reason;
};

ProgramTrust CheckProgramTrust(const std::string& path);

} // namespace pelorix
