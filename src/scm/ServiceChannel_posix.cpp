#include "scm/ServiceChannel.h"

#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"

#include "scm/ServiceControl.h"
#include "scm/ServiceDatabase.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pelorix {

namespace {

// A client has this long to send its request line once it connected.
constexpr int kRequestLineMs = 2000;

std::uint32_t AcceptedIn(std::uint32_t state) {
    using namespace scm;
    switch (state) {
    case SERVICE_RUNNING:
    case SERVICE_PAUSED:
        return SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    default:
        return 0;
    }
}

} // namespace

ServiceRequest::~ServiceRequest() {
    if (connection_ >= 0)
        close(connection_);
}

ServiceRequest::ServiceRequest(ServiceRequest&& other) noexcept
    : control_(other.control_), connection_(other.connection_) {
    other.connection_ = -1;
}

std::string ServiceChannel::StartedServiceName() {
    const char* name = std::getenv(scm::db::kServiceVariable);
    return (name && scm::db::ValidName(name)) ? name : std::string();
}

ServiceChannel::~ServiceChannel() {
    Close();
}

bool ServiceChannel::Open(const std::string& serviceName) {
    Close();
    if (!scm::db::ValidName(serviceName))
        return false;
    dir_ = scm::db::Directory();
    name_ = serviceName;
    const std::string path = scm::db::SocketPath(dir_, name_);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    scm::db::Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid())
        return false;
    unlink(path.c_str()); // left by a process that ended without reporting stopped
    // Only the database's owner and group may connect: the socket is created that way rather
    // than opened to everyone for a moment.
    const mode_t oldMask = umask(0117);
    const int bound = bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    umask(oldMask);
    if (bound != 0 || listen(fd.Get(), 16) != 0)
        return false;
    struct stat dirInfo {};
    if (stat(dir_.c_str(), &dirInfo) == 0 && chown(path.c_str(), dirInfo.st_uid, dirInfo.st_gid) != 0) {
        // Not permitted for an ordinary user; the socket keeps this user's own ids.
    }
    listenFd_ = fd.Release();
    const auto startTime = scm::db::ProcessStartTime(getpid());
    startTime_ = startTime ? *startTime : 0;
    ReportStatus(scm::SERVICE_START_PENDING);
    return true;
}

void ServiceChannel::ReportStatus(std::uint32_t state, std::uint32_t exitCode) {
    if (name_.empty())
        return;
    state_ = state;
    exitCode_ = exitCode;
    scm::db::Status status;
    status.pid = getpid();
    status.startTime = startTime_;
    status.state = state;
    status.controlsAccepted = AcceptedIn(state);
    status.exitCode = exitCode;
    if (state != scm::SERVICE_STOPPED) {
        scm::db::SaveStatus(dir_, name_, status);
        return;
    }
    // Under the lock, so that a deletion either sees this service still running (and marks
    // it, which is then seen here) or already stopped (and removes it itself).
    scm::db::Lock lock(dir_, name_);
    Close();
    const bool marked = access(scm::db::DeletedPath(dir_, name_).c_str(), F_OK) == 0;
    if (marked)
        scm::db::RemoveAll(dir_, name_);
    else
        scm::db::SaveStatus(dir_, name_, status);
}

std::optional<ServiceRequest> ServiceChannel::NextRequest(int timeoutMs) {
    if (listenFd_ < 0)
        return std::nullopt;
    // Without a time limit, no deadline: the wait lasts until a request comes.
    const Deadline deadline = timeoutMs >= 0 ? Deadline::In(SystemClock::Instance(), timeoutMs) : Deadline();
    for (;;) {
        const int wait = deadline.Cap(-1);
        pollfd p{listenFd_, POLLIN, 0};
        const int ready = poll(&p, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        const int connection = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        const auto line = scm::db::ReceiveLine(connection, kRequestLineMs);
        char* end = nullptr;
        const unsigned long control = line ? std::strtoul(line->c_str(), &end, 10) : 0;
        if (line && !line->empty() && end && *end == '\0')
            return ServiceRequest(static_cast<std::uint32_t>(control), connection);
        close(connection); // not a request: dropped
        if (deadline.Passed())
            return std::nullopt;
    }
}

void ServiceChannel::Answer(ServiceRequest& request, std::uint32_t error) {
    if (request.Connection() < 0)
        return;
    const std::string reply = std::to_string(error) + " " + std::to_string(state_) + " " +
                              std::to_string(AcceptedIn(state_)) + " " + std::to_string(exitCode_) + " 0 0";
    scm::db::SendLine(request.Connection(), reply);
}

void ServiceChannel::Close() {
    if (listenFd_ < 0)
        return;
    close(listenFd_);
    listenFd_ = -1;
    unlink(scm::db::SocketPath(dir_, name_).c_str());
}

} // namespace pelorix
