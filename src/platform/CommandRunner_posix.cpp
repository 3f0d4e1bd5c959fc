#include "platform/CommandRunner.h"

#include "platform/FileDescriptor.h"
#include "platform/FileSystemName.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

extern char** environ;

namespace pelorix {

namespace {

// A service started with its standard descriptors closed would get them back from pipe(); the
// child's own standard output must never be one of the pipe's ends.
int AboveStandardFds(int fd) {
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

bool HasName(std::string_view entry, const std::string& name) {
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
           entry[name.size()] == '=';
}

std::vector<std::string> BuildEnvironment(const CommandRequest& request) {
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const bool replaced =
            std::any_of(request.Environment.begin(), request.Environment.end(),
                        [&](const auto& variable) { return HasName(text, variable.first); });
        if (!replaced)
            env.emplace_back(text);
    }
    for (const auto& [name, value] : request.Environment)
        env.push_back(name + "=" + value);
    return env;
}

// The spawn attributes and file actions, released on every path.
class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
};

// The worker thread has the service's control signals blocked and SIGPIPE ignored; the
// command gets a clean signal state, so SIGTERM reaches it and a closed pipe ends it.
pid_t SpawnShell(const CommandRequest& request, int outputFd) {
    SpawnSetup setup;
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    posix_spawnattr_setpgroup(&setup.attr, 0);
    posix_spawnattr_setflags(&setup.attr,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&setup.actions, outputFd, 2);
    if (!request.WorkDir.empty())
        posix_spawn_file_actions_addchdir_np(&setup.actions, FileSystemName(request.WorkDir).c_str());

    std::vector<std::string> env = BuildEnvironment(request);
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string shell = "sh", option = "-c", line = FileSystemName(request.CommandLine);
    char* argv[] = {shell.data(), option.data(), line.data(), nullptr};

    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", &setup.actions, &setup.attr, argv, envp.data()) != 0)
        return -1;
    return pid;
}

int StatusCode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// One started command: reads its output while waiting for it and ends its process group.
class RunningCommand {
public:
    enum class Wake { Exited, Stop, Deadline };

    RunningCommand(pid_t pid, int outputFd, int stopFd, const IClock& clock)
        : pid_(pid), output_(outputFd), stopFd_(stopFd), clock_(clock),
          pidFd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {}

    // Waits until the shell ended, the stop came (when watched) or untilMs passed.
    Wake WaitUntil(long long untilMs, bool watchStop) {
        for (;;) {
            if (Reaped())
                return Wake::Exited;
            const long long left = untilMs - clock_.MonotonicMs();
            if (left <= 0)
                return Wake::Deadline;
            // Without a process descriptor the exit is noticed in short steps.
            const long long step = pidFd_.Get() >= 0 ? left : std::min(left, 100LL);
            pollfd fds[3];
            nfds_t count = 0;
            if (output_.Get() >= 0)
                fds[count++] = {output_.Get(), POLLIN, 0};
            if (pidFd_.Get() >= 0)
                fds[count++] = {pidFd_.Get(), POLLIN, 0};
            if (watchStop)
                fds[count++] = {stopFd_, POLLIN, 0};
            const int ready = ::poll(fds, count, static_cast<int>(std::min<long long>(step, INT_MAX)));
            if (ready < 0 && errno != EINTR)
                return Wake::Deadline;
            if (watchStop && Readable(stopFd_))
                return Wake::Stop;
            if (output_.Get() >= 0 && ready > 0 && fds[0].revents != 0)
                ReadOutput();
        }
    }

    // SIGTERM to the whole group, SIGKILL to what is left after the grace.
    void EndGroup() {
        ::kill(-pid_, SIGTERM);
        if (WaitUntil(clock_.MonotonicMs() + TShellCommandRunner::kTermGraceMs, false) == Wake::Exited)
            return;
        ::kill(-pid_, SIGKILL);
        while (!reaped_ && ::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }

    // What is still in the pipe once the shell has ended; a process it left behind may keep
    // writing, so this reads only a bounded amount.
    std::vector<std::string> TakeOutput() {
        ReadOutput();
        return lines_.Finish();
    }
    int Status() const { return status_; }

private:
    bool Reaped() {
        if (reaped_)
            return true;
        const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
        reaped_ = done == pid_ || (done < 0 && errno == ECHILD);
        return reaped_;
    }

    void ReadOutput() {
        char buffer[4096];
        for (int round = 0; round < 256 && output_.Get() >= 0; ++round) {
            const ssize_t n = ::read(output_.Get(), buffer, sizeof buffer);
            if (n > 0) {
                lines_.Add(std::string_view(buffer, static_cast<std::size_t>(n)));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || errno != EAGAIN)
                output_.Reset(); // every writer has closed it
            return;
        }
    }

    pid_t pid_;
    Fd output_;
    int stopFd_;
    const IClock& clock_;
    Fd pidFd_;
    TOutputLines lines_;
    int status_ = 0;
    bool reaped_ = false;
};

} // namespace

// An eventfd that stays readable once Stop wrote to it.
struct TShellCommandRunner::StopSignal {
    Fd Event{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
};

TShellCommandRunner::TShellCommandRunner(const IClock& clock, bool refuseRoot)
    : clock_(clock), refuseRoot_(refuseRoot), stop_(std::make_unique<StopSignal>()) {}

TShellCommandRunner::~TShellCommandRunner() = default;

void TShellCommandRunner::Stop() {
    const std::uint64_t one = 1;
    if (stop_->Event.Valid() && ::write(stop_->Event.Get(), &one, sizeof one) < 0) {
        // the counter is already set: the stop stands
    }
}

CommandResult TShellCommandRunner::Run(const CommandRequest& request) {
    CommandResult result;
    const Fd& stopFd = stop_->Event;
    if (!stopFd.Valid() || (refuseRoot_ && ::geteuid() == 0))
        return result;
    if (Readable(stopFd.Get())) {
        result.Outcome = CommandOutcome::Stopped;
        return result;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return result;
    Fd readEnd(AboveStandardFds(ends[0]));
    Fd writeEnd(AboveStandardFds(ends[1]));
    if (readEnd.Get() < 0 || writeEnd.Get() < 0)
        return result;
    ::fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK);
    const long long deadline = clock_.MonotonicMs() + request.TimeLimitMs;
    const pid_t pid = SpawnShell(request, writeEnd.Get());
    writeEnd.Reset(); // the pipe ends when the command's side is closed
    if (pid < 0)
        return result;

    RunningCommand command(pid, readEnd.Release(), stopFd.Get(), clock_);
    switch (command.WaitUntil(deadline, true)) {
    case RunningCommand::Wake::Exited:
        result.Outcome = CommandOutcome::Exited;
        break;
    case RunningCommand::Wake::Stop:
        command.EndGroup();
        result.Outcome = CommandOutcome::Stopped;
        break;
    case RunningCommand::Wake::Deadline:
        command.EndGroup();
        result.Outcome = CommandOutcome::TimedOut;
        break;
    }
    result.ExitCode = StatusCode(command.Status());
    result.Output = command.TakeOutput();
    return result;
}

} // namespace pelorix
