#include "platform/HelperProcess.h"

#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"

#include "platform/FileDescriptor.h"

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <mutex>

extern char** environ;

namespace pelorix {

namespace {

std::string HelperProgram() {
    const std::string chosen = ChosenHelperProgram();
    return chosen.empty() ? "/proc/self/exe" : chosen;
}

int MillisecondsLeft(const Deadline& deadline) {
    return deadline.Cap(60'000);
}

// Waits for the socket to become ready for events; false when the deadline passed first.
bool WaitFor(int fd, short events, const Deadline& deadline) {
    for (;;) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, left);
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

bool SendAll(int fd, const std::string& bytes, const Deadline& deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!WaitFor(fd, POLLOUT, deadline))
            return false;
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Everything the helper writes until it closes its end; nullopt on a time-out or overflow.
std::optional<std::string> ReceiveAll(int fd, const Deadline& deadline) {
    std::string bytes;
    char buffer[8192];
    for (;;) {
        if (!WaitFor(fd, POLLIN, deadline))
            return std::nullopt;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxMessage)
            return std::nullopt;
    }
}

bool ReapedCleanly(pid_t pid, bool kill_first) {
    if (kill_first)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The helper starts with default signal handling and nothing blocked, whatever the service's
// threads had set up for sigwait.
struct SpawnAttributes {
    posix_spawnattr_t attr{};
    SpawnAttributes() {
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attr, &none);
        sigset_t defaults;
        sigfillset(&defaults);
        sigdelset(&defaults, SIGKILL);
        sigdelset(&defaults, SIGSTOP);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

struct SpawnFileActions {
    posix_spawn_file_actions_t actions{};
    explicit SpawnFileActions(int channel) {
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, channel, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, channel, STDOUT_FILENO);
    }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
};

std::optional<std::string> ReadStandardInput() {
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0)
            return bytes;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxMessage)
            return std::nullopt;
    }
}

bool WriteStandardOutput(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::optional<int> RunHelperIfAsked(int argc, char** argv, std::span<const HelperVerb> verbs) {
    if (argc != 4 || std::strcmp(argv[1], kHelperSwitch) != 0)
        return std::nullopt;
    // The helper goes when the thread that started it goes (a service that ends takes its
    // upload with it); a parent already gone before this line is caught by the check after it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (std::to_string(::getppid()) != argv[3])
        return 1;
    return RunHelperVerb(argv[2], verbs, &ReadStandardInput, &WriteStandardOutput);
}

std::optional<std::string> RunInHelperProcess(const std::string& verb, const std::string& request,
                                              std::chrono::milliseconds limit) {
    // A network deadline of the calling thread (a network action of the manager) bounds the
    // helper too: it is killed when the deadline passes.
    const Deadline deadline = Deadline::In(SystemClock::Instance(), limit.count()).Sooner(NetworkDeadline());
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return std::nullopt;
    Fd mine(ends[0]);
    Fd theirs(ends[1]);

    const std::string program = HelperProgram();
    std::string parent = std::to_string(::getpid());
    std::string name = "PelorixHelper", helper_switch = kHelperSwitch, verb_arg = verb;
    char* args[] = {name.data(), helper_switch.data(), verb_arg.data(), parent.data(), nullptr};
    SpawnAttributes attributes;
    SpawnFileActions actions(theirs.Get());
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions.actions, &attributes.attr, args, environ) != 0)
        return std::nullopt;
    theirs.Reset();

    const bool sent = SendAll(mine.Get(), request, deadline) && ::shutdown(mine.Get(), SHUT_WR) == 0;
    std::optional<std::string> answer = sent ? ReceiveAll(mine.Get(), deadline) : std::nullopt;
    mine.Reset();
    const bool clean = ReapedCleanly(pid, !answer);
    if (!clean)
        return std::nullopt;
    return answer;
}

} // namespace pelorix
