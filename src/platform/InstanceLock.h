#pragma once
// One running service per program directory. Two services on one directory would both upload
// and interleave one log; the second is turned away at its start. On Linux the lock is an
// exclusive flock on the directory itself: it needs no write permission there (the program
// directory belongs to root) and creates nothing. On Windows it is a global named mutex named
// after the directory's full path. Either way the system drops it when the process ends,
// however it ends. Owned by the service module for the process's life; one thread.

#include <cstdint>
#include <string>

namespace pelorix {

class TInstanceLock {
public:
    // Tries once, without waiting. directory is system text.
    explicit TInstanceLock(const std::string& directory);
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    // Another process holds the lock. A directory that cannot be locked at all (a file system
    // without locks) does not keep the service from running.
    bool TakenByOther() const { return takenByOther_; }

private:
    std::intptr_t handle_ = -1; // what holds the lock: a descriptor or a handle
    bool takenByOther_ = false;
};

} // namespace pelorix
