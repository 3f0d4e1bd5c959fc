#include "platform/ChildProcess_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

extern char** environ;

namespace pelorix {

namespace {

// A caller started with its standard descriptors closed would get them back from pipe() or
// open(); a descriptor the child gets as standard stream must never be one of them already.
Fd AboveStandardFds(int fd) {
    if (fd < 0 || fd > 2)
        return Fd(fd);
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return Fd(moved);
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// The longest single wait; without a deadline the waits go on in steps of this length.
constexpr int kNoLimitStepMs = 1000;

int PollStep(long long leftMs) {
    return static_cast<int>(std::clamp<long long>(leftMs, 0, INT_MAX));
}

// Both ends of a new channel; false when either could not be made.
bool OpenChannel(bool socket, Fd& readEnd, Fd& writeEnd) {
    int ends[2];
    const int made =
        socket ? ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) : ::pipe2(ends, O_CLOEXEC);
    if (made != 0)
        return false;
    readEnd = AboveStandardFds(ends[0]);
    writeEnd = AboveStandardFds(ends[1]);
    return readEnd.Valid() && writeEnd.Valid();
}

// What the forked processes tell the caller over the report pipe: why exec failed, or (from
// the first process of a detached start) the pid of the program.
struct Report {
    enum Kind : int { Error = 1, Pid = 2 };
    int kind;
    int value;
};

void SendReport(int fd, Report::Kind kind, int value) {
    const Report report{kind, value};
    [[maybe_unused]] const ssize_t n = ::write(fd, &report, sizeof report);
}

// Everything the child needs, made before the fork.
struct ChildImage {
    std::vector<std::string> arguments;
    std::vector<char*> argv;
    std::vector<std::string> environment;
    std::vector<char*> envp;
    int streams[3] = {-1, -1, -1}; // the descriptor each standard stream gets, -1: kept
    Fd null;                       // /dev/null, when a stream goes there
    Fd childInput;                 // the child's ends of the channels
    Fd childOutput;
    Fd input; // the caller's ends
    Fd output;
};

// The descriptor a stream gets, made on first use; -1 for the caller's own, -2 on failure.
int StreamFd(ChildStream stream, ChildImage& image, Fd& childEnd) {
    switch (stream) {
    case ChildStream::Inherit:
        return -1;
    case ChildStream::Null:
        if (!image.null.Valid())
            image.null = AboveStandardFds(::open("/dev/null", O_RDWR | O_CLOEXEC));
        return image.null.Valid() ? image.null.Get() : -2;
    case ChildStream::Pipe:
        return childEnd.Valid() ? childEnd.Get() : -2;
    }
    return -2;
}

bool Prepare(const ChildSetup& setup, ChildImage& image) {
    image.arguments = setup.Arguments;
    if (image.arguments.empty())
        image.arguments.push_back(setup.Program);
    image.argv = ExecPointers(image.arguments);
    if (setup.Environment) {
        image.environment = *setup.Environment;
        image.envp = ExecPointers(image.environment);
    }
    if (setup.Input == ChildStream::Pipe && !OpenChannel(true, image.childInput, image.input))
        return false;
    if (setup.Output == ChildStream::Pipe && !OpenChannel(false, image.output, image.childOutput))
        return false;
    if (setup.Error == ChildStream::Pipe && setup.Output != ChildStream::Pipe)
        return false;
    image.streams[0] = StreamFd(setup.Input, image, image.childInput);
    image.streams[1] = StreamFd(setup.Output, image, image.childOutput);
    image.streams[2] = StreamFd(setup.Error, image, image.childOutput);
    return std::none_of(std::begin(image.streams), std::end(image.streams), [](int fd) { return fd == -2; });
}

} // namespace

bool DropToAccount(const ChildCredentials& account) {
    if (::setgroups(account.Groups.size(), account.Groups.data()) != 0 ||
        ::setresgid(account.Gid, account.Gid, account.Gid) != 0 ||
        ::setresuid(account.Uid, account.Uid, account.Uid) != 0)
        return false;
    uid_t real = 0, effective = 0, saved = 0;
    if (::getresuid(&real, &effective, &saved) != 0 || real != account.Uid || effective != account.Uid ||
        saved != account.Uid || (account.Uid != 0 && (::setuid(0) == 0 || ::setgid(0) == 0))) {
        errno = EPERM;
        return false;
    }
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

namespace {

// In the child, after fork: only async-signal-safe calls until the exec. Reports errno and
// ends when a step fails.
[[noreturn]] void BecomeProgram(const ChildSetup& setup, const ChildImage& image, int reportFd) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        ::sigaction(sig, &defaults, nullptr);
    if (setup.Umask)
        ::umask(*setup.Umask);
    bool ready = !setup.Credentials || DropToAccount(*setup.Credentials);
    ready = ready && (setup.WorkDir.empty() || ::chdir(setup.WorkDir.c_str()) == 0);
    for (int stream = 0; ready && stream < 3; ++stream)
        ready = image.streams[stream] < 0 || ::dup2(image.streams[stream], stream) == stream;
    if (ready) {
        // Nothing else of the caller's open files reaches the program.
        if (reportFd > 3)
            ::close_range(3, static_cast<unsigned>(reportFd) - 1, 0);
        ::close_range(static_cast<unsigned>(reportFd) + 1, ~0U, 0);
        ::execve(setup.Program.c_str(), image.argv.data(), setup.Environment ? image.envp.data() : environ);
    }
    SendReport(reportFd, Report::Error, errno);
    ::_exit(127);
}

// Reads the reports until every writer has closed the pipe (the exec closes it, as it is
// close-on-exec). The errno of a failed exec, 0 when there was none.
int ReadReports(int fd, pid_t* pid) {
    int error = 0;
    Report report{};
    for (;;) {
        const ssize_t n = ::read(fd, &report, sizeof report);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != static_cast<ssize_t>(sizeof report))
            return error;
        if (report.kind == Report::Pid && pid)
            *pid = report.value;
        else if (report.kind == Report::Error)
            error = report.value;
    }
}

void ReapBlocking(pid_t pid, int* status) {
    while (::waitpid(pid, status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::optional<ChildProcess> ChildProcess::Start(const ChildSetup& setup, int& error) {
    errno = 0;
    ChildImage image;
    Fd reportRead, reportWrite;
    if (!Prepare(setup, image) || !OpenChannel(false, reportRead, reportWrite)) {
        error = errno != 0 ? errno : EINVAL;
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A group of its own, so the child and everything it starts can be ended at once.
        ::setpgid(0, 0);
        BecomeProgram(setup, image, reportWrite.Get());
    }
    if (pid < 0) {
        error = errno;
        return std::nullopt;
    }
    reportWrite.Reset();
    image.childInput.Reset();
    image.childOutput.Reset();
    error = ReadReports(reportRead.Get(), nullptr);
    if (error != 0) {
        ReapBlocking(pid, nullptr);
        return std::nullopt;
    }
    return ChildProcess(pid, std::move(image.input), std::move(image.output));
}

pid_t StartDetached(const ChildSetup& setup, int& error) {
    errno = 0;
    ChildImage image;
    Fd reportRead, reportWrite;
    if (setup.Input == ChildStream::Pipe || setup.Output == ChildStream::Pipe || !Prepare(setup, image) ||
        !OpenChannel(false, reportRead, reportWrite)) {
        error = errno != 0 ? errno : EINVAL;
        return 0;
    }
    const pid_t first = ::fork();
    if (first == 0) {
        ::setsid();
        // fork itself is not async-signal-safe (it runs the handlers libraries registered).
        const pid_t program = ::_Fork();
        if (program == 0)
            BecomeProgram(setup, image, reportWrite.Get());
        if (program < 0)
            SendReport(reportWrite.Get(), Report::Error, errno);
        else
            SendReport(reportWrite.Get(), Report::Pid, program);
        ::_exit(0);
    }
    if (first < 0) {
        error = errno;
        return 0;
    }
    reportWrite.Reset();
    ReapBlocking(first, nullptr);
    pid_t pid = 0;
    error = ReadReports(reportRead.Get(), &pid);
    if (error == 0 && pid == 0)
        error = EAGAIN;
    return error == 0 ? pid : 0;
}

ChildProcess::ChildProcess(pid_t pid, Fd input, Fd output)
    : pid_(pid), input_(std::move(input)), output_(std::move(output)),
      pidFd_(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))) {
    if (output_.Valid())
        ::fcntl(output_.Get(), F_SETFL, O_NONBLOCK);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), input_(std::move(other.input_)), output_(std::move(other.output_)),
      pidFd_(std::move(other.pidFd_)), status_(other.status_), reaped_(other.reaped_) {}

ChildProcess::~ChildProcess() {
    if (pid_ > 0)
        KillGroup();
}

bool ChildProcess::WriteInput(std::string_view bytes, const Deadline& deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long long left = deadline.Cap(kNoLimitStepMs);
        if (left <= 0)
            return false;
        pollfd p{input_.Get(), POLLOUT, 0};
        const int ready = ::poll(&p, 1, PollStep(left));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        const ssize_t n =
            ::send(input_.Get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    input_.Reset();
    return true;
}

ChildProcess::Wake ChildProcess::Wait(const Deadline& deadline, const OutputSink& sink, int wakeFd) {
    for (;;) {
        if (Reaped())
            return Wake::Exited;
        const long long left = deadline.Cap(kNoLimitStepMs);
        if (left <= 0)
            return Wake::Deadline;
        // Without a process descriptor the end is noticed in short steps.
        const long long step = pidFd_.Valid() ? left : std::min(left, 100LL);
        pollfd fds[3];
        nfds_t count = 0;
        if (output_.Valid())
            fds[count++] = {output_.Get(), POLLIN, 0};
        if (pidFd_.Valid())
            fds[count++] = {pidFd_.Get(), POLLIN, 0};
        if (wakeFd >= 0)
            fds[count++] = {wakeFd, POLLIN, 0};
        const bool watchingOutput = output_.Valid();
        const int ready = ::poll(fds, count, PollStep(step));
        if (ready < 0 && errno != EINTR)
            return Wake::Deadline;
        if (wakeFd >= 0 && Readable(wakeFd))
            return Wake::Event;
        if (watchingOutput && ready > 0 && fds[0].revents != 0 && !ReadOutput(sink))
            return Wake::Refused;
    }
}

void ChildProcess::DrainOutput(const OutputSink& sink) {
    ReadOutput(sink);
}

void ChildProcess::EndGroup(const IClock& clock, int graceMs, const OutputSink& sink) {
    if (reaped_)
        return;
    ::kill(-pid_, SIGTERM);
    if (Wait(Deadline::In(clock, graceMs), sink) != Wake::Exited)
        KillGroup();
}

void ChildProcess::KillGroup() {
    if (reaped_)
        return;
    // The child is not reaped yet, so its pid, and with it the group's id, is still its own.
    ::kill(-pid_, SIGKILL);
    AwaitReap();
}

int ChildProcess::ExitCode() const {
    if (WIFEXITED(status_))
        return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_))
        return 128 + WTERMSIG(status_);
    return -1;
}

bool ChildProcess::Reaped() {
    if (reaped_)
        return true;
    const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
    reaped_ = done == pid_ || (done < 0 && errno == ECHILD);
    return reaped_;
}

void ChildProcess::AwaitReap() {
    ReapBlocking(pid_, &status_);
    reaped_ = true;
}

bool ChildProcess::ReadOutput(const OutputSink& sink) {
    char buffer[4096];
    for (int round = 0; round < 256 && output_.Valid(); ++round) {
        const ssize_t n = ::read(output_.Get(), buffer, sizeof buffer);
        if (n > 0) {
            if (!sink(std::string_view(buffer, static_cast<std::size_t>(n))))
                return false;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            output_.Reset(); // every writer has closed it
        return true;
    }
    return true;
}

std::vector<char*> ExecPointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace pelorix
