#pragma once
// A name server that never answers, for the tests of bounded name look-ups (Linux only). It is
// a UDP socket on 127.0.0.1:53 that reads every query and drops it, and /etc/resolv.conf points
// at it with the longest waits the resolver allows (30 s, 5 attempts: 150 s for one name) --
// for this process alone: the constructor moves the calling thread into a private mount
// namespace and bind-mounts a file of its own over /etc/resolv.conf there. Threads and
// processes the calling thread starts afterwards inherit both; the rest of the machine never
// sees them. Needs the private network namespace the NetTests run in (scripts/netns-run.sh,
// root inside it), which owns the port; construct it before the test starts any thread.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelorix::test {

// A name no /etc/hosts has and only a name server could answer.
inline constexpr const char* kStalledName = "stalled.pelorix.test";

class SilentNameServer {
public:
    SilentNameServer();
    // Stops reading and takes the mount away again.
    ~SilentNameServer();
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;

    // Whether it listens and the resolver points at it; why not in Problem.
    bool Ready() const { return ready_; }
    const std::string& Problem() const { return problem_; }

    // How many queries for name came so far.
    int QueriesFor(const std::string& name) const;

private:
    void ReadAndDrop();

    int fd_ = -1;
    bool ready_ = false;
    bool mounted_ = false;
    std::string problem_;
    std::string confFile_;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::vector<std::string> names_;
    std::thread reader_;
};

} // namespace pelorix::test
