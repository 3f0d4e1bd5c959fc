#include "scm/ServiceDatabase.h"

#include "platform/Clock.h"
#include "platform/FileReplace.h"
#include "platform/NetworkDeadline.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>

namespace pelorix::scm::db {

namespace {

// Members of the database's group may put anything under a service's file names; root reads
// them too. So only a plain file is read (no link followed, a FIFO never waited on), and at
// most kMaxFileBytes of it.
constexpr std::size_t kMaxFileBytes = 65536;

std::optional<std::string> ReadFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxFileBytes)
            return std::nullopt;
    }
}

bool SafeValue(const std::string& value) {
    return value.find_first_of("\r\n") == std::string::npos;
}

std::uint32_t ToNumber(const std::string& text) {
    return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

} // namespace

std::string Directory() {
    const char* configured = std::getenv(kDirVariable);
    std::string dir = (configured && *configured) ? configured : kDefaultDir;
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name.front() == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x80 && (std::isalnum(u) || c == '_' || c == '-' || c == '.');
    });
}

std::string Key(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return key;
}

std::string RecordPath(const std::string& dir, const std::string& name) {
    return dir + Key(name) + ".service";
}
std::string StatusPath(const std::string& dir, const std::string& name) {
    return dir + Key(name) + ".status";
}
std::string SocketPath(const std::string& dir, const std::string& name) {
    return dir + Key(name) + ".sock";
}
std::string DeletedPath(const std::string& dir, const std::string& name) {
    return dir + Key(name) + ".deleted";
}
std::string LockPath(const std::string& dir, const std::string& name) {
    return dir + Key(name) + ".lock";
}

bool WriteAtomically(const std::string& path, const std::string& content) {
    ReplaceOptions options;
    options.newFileMode = 0664;
    // Whatever the umask: whoever controls the service next must be able to rewrite it.
    options.exactNewFileMode = true;
    options.followLink = false;
    return ReplaceWholeFile(path, content, options) == 0;
}

std::optional<Record> LoadRecord(const std::string& dir, const std::string& name) {
    const auto text = ReadFile(RecordPath(dir, name));
    if (!text)
        return std::nullopt;
    Record record;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "Name")
            record.name = value;
        else if (key == "DisplayName")
            record.displayName = value;
        else if (key == "Path")
            record.path = value;
        else if (key == "Type")
            record.type = ToNumber(value);
        else if (key == "Start")
            record.startType = ToNumber(value);
        else if (key == "ErrorControl")
            record.errorControl = ToNumber(value);
    }
    if (record.name.empty() || Key(record.name) != Key(name))
        return std::nullopt;
    return record;
}

bool SaveRecord(const std::string& dir, const Record& record) {
    if (!SafeValue(record.displayName) || !SafeValue(record.path))
        return false;
    std::string text = "Name=" + record.name + "\n";
    text += "DisplayName=" + record.displayName + "\n";
    text += "Path=" + record.path + "\n";
    text += "Type=" + std::to_string(record.type) + "\n";
    text += "Start=" + std::to_string(record.startType) + "\n";
    text += "ErrorControl=" + std::to_string(record.errorControl) + "\n";
    return WriteAtomically(RecordPath(dir, record.name), text);
}

std::vector<std::string> ListNames(const std::string& dir) {
    std::vector<std::string> keys;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return keys;
    const std::string suffix = ".service";
    while (const dirent* entry = readdir(d)) {
        const std::string file = entry->d_name;
        if (file.size() > suffix.size() &&
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0)
            keys.push_back(file.substr(0, file.size() - suffix.size()));
    }
    closedir(d);
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> names;
    for (const auto& key : keys) {
        if (!ValidName(key))
            continue;
        if (const auto record = LoadRecord(dir, key))
            names.push_back(record->name);
    }
    return names;
}

std::optional<Status> LoadStatus(const std::string& dir, const std::string& name) {
    const auto text = ReadFile(StatusPath(dir, name));
    if (!text)
        return std::nullopt;
    Status status;
    std::istringstream in(*text);
    if (!(in >> status.pid >> status.startTime >> status.state >> status.controlsAccepted >>
          status.exitCode >> status.checkPoint >> status.waitHint))
        return std::nullopt;
    std::getline(in >> std::ws, status.note);
    return status;
}

bool SaveStatus(const std::string& dir, const std::string& name, const Status& status) {
    std::ostringstream out;
    out << status.pid << ' ' << status.startTime << ' ' << status.state << ' ' << status.controlsAccepted
        << ' ' << status.exitCode << ' ' << status.checkPoint << ' ' << status.waitHint;
    if (SafeValue(status.note) && !status.note.empty())
        out << ' ' << status.note;
    out << '\n';
    return WriteAtomically(StatusPath(dir, name), out.str());
}

std::optional<unsigned long long> ProcessStartTime(long pid) {
    if (pid <= 0)
        return std::nullopt;
    const auto text = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    if (!text)
        return std::nullopt;
    // The command name in parentheses may hold blanks; the fields after it are plain.
    const auto close = text->rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text->substr(close + 1));
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X" || state == "x")
        return std::nullopt;
    std::string skip;
    for (int i = 0; i < 18; ++i)
        fields >> skip;
    unsigned long long startTime = 0;
    if (!(fields >> startTime))
        return std::nullopt;
    return startTime;
}

bool Alive(const Status& status) {
    const auto startTime = ProcessStartTime(status.pid);
    return startTime && *startTime == status.startTime;
}

void RemoveAll(const std::string& dir, const std::string& name) {
    for (const auto& path : {RecordPath(dir, name), StatusPath(dir, name), SocketPath(dir, name),
                             DeletedPath(dir, name), LockPath(dir, name)})
        unlink(path.c_str());
}

bool SendLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> ReceiveLine(int fd, int timeoutMs) {
    const Deadline deadline = Deadline::In(SystemClock::Instance(), timeoutMs);
    std::string line;
    for (;;) {
        const int left = deadline.Cap(-1);
        if (left <= 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char c = 0;
        const ssize_t n = recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        if (line.size() > 256)
            return std::nullopt;
        line += c;
    }
}

Lock::Lock(const std::string& dir, const std::string& name, const IClock& clock, ISleeper& sleeper) {
    // Read-only is enough for flock, and lets every administrator use a lock file another created.
    // Never through a link a member planted: root would create the file it points to.
    Fd fd(open(LockPath(dir, name).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0664));
    struct stat st {};
    if (!fd.Valid())
        return;
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = EWOULDBLOCK;
        return;
    }
    const long long until = clock.MonotonicMs() + kWaitMs;
    while (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return;
        if (clock.MonotonicMs() >= until) {
            errno = EWOULDBLOCK;
            return;
        }
        sleeper.SleepMs(kPollMs);
    }
    fd_ = fd.Release();
}

Lock::~Lock() {
    if (fd_ >= 0)
        close(fd_);
}

} // namespace pelorix::scm::db
