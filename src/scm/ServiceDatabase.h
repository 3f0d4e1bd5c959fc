#pragma once
// The files of the service database, shared by the control calls (ServiceControl) and the
// service side (ServiceChannel). Per service, under its name in lower case:
//   NAME.service  the record (key=value lines), written atomically
//   NAME.status   the state the running service last reported, with its process identity
//   NAME.sock     the service's control socket while it runs
//   NAME.deleted  present while the service is marked for deletion
//   NAME.lock     serialises starting and deleting
// Plain functions without state; every caller owns what it opens.

#include "platform/Clock.h"
#include "platform/FileDescriptor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pelorix::scm::db {

inline constexpr const char* kDirVariable = "PELORIX_SCM_DIR";
inline constexpr const char* kDefaultDir = "/var/lib/pelorix/services";
// Set in the environment of a program the control layer starts: the service's name.
inline constexpr const char* kServiceVariable = "PELORIX_SCM_SERVICE";

struct Record {
    std::string name;
    std::string displayName;
    std::string path;
    std::uint32_t type = 0;
    std::uint32_t startType = 0;
    std::uint32_t errorControl = 0;
};

// What the running service reported, and which process it is.
struct Status {
    long pid = 0;
    unsigned long long startTime = 0; // process start time in clock ticks since boot
    std::uint32_t state = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t exitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
    // Why a service did not start, Latin-1, one line; empty otherwise.
    std::string note;
};

// The database directory with its trailing "/".
std::string Directory();

// A name may be used as a service name: 1 to 64 letters, digits, "_", "-", ".", not
// beginning with ".".
bool ValidName(const std::string& name);
// The file name stem of a service: its name in lower case.
std::string Key(const std::string& name);

std::string RecordPath(const std::string& dir, const std::string& name);
std::string StatusPath(const std::string& dir, const std::string& name);
std::string SocketPath(const std::string& dir, const std::string& name);
std::string DeletedPath(const std::string& dir, const std::string& name);
std::string LockPath(const std::string& dir, const std::string& name);

// Writes path via a temporary file in the same directory and a rename.
bool WriteAtomically(const std::string& path, const std::string& content);

std::optional<Record> LoadRecord(const std::string& dir, const std::string& name);
bool SaveRecord(const std::string& dir, const Record& record);
// Names of all records in the directory, in the order of their keys.
std::vector<std::string> ListNames(const std::string& dir);

std::optional<Status> LoadStatus(const std::string& dir, const std::string& name);
bool SaveStatus(const std::string& dir, const std::string& name, const Status& status);

// Start time of a live process (not a zombie) in clock ticks since boot; none when it has
// ended.
std::optional<unsigned long long> ProcessStartTime(long pid);
// The process that wrote status still runs.
bool Alive(const Status& status);

// Removes every file of the service.
void RemoveAll(const std::string& dir, const std::string& name);

using pelorix::Fd;

// The control requests and their answers travel as single text lines on the socket.
bool SendLine(int fd, const std::string& line);
// One line without its "\n", waiting at most timeoutMs in all; none on timeout, end or error.
std::optional<std::string> ReceiveLine(int fd, int timeoutMs);

// An exclusive lock on the service's lock file, held until destruction. Members of the
// database's group may put anything under the lock file's name and hold the lock as long as
// they like, so root's tools (boot, shutdown, the package's removal) must never hang on it:
// only a plain file is locked (no link followed, a FIFO never waited on), and another holder
// is waited for at most kWaitMs. When the lock was not had, errno is EWOULDBLOCK.
class Lock {
public:
    // Longer than a start normally holds the lock, short enough for a boot that meets a stuck one.
    static constexpr int kWaitMs = 5000;
    static constexpr int kPollMs = 20;

    Lock(const std::string& dir, const std::string& name, const IClock& clock = SystemClock::Instance(),
         ISleeper& sleeper = SystemSleeper::Instance());
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

} // namespace pelorix::scm::db
