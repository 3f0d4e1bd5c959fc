#include "platform/CommandRunner.h"

#include "platform/ChildProcess_posix.h"
#include "platform/CleanEnvironment_posix.h"
#include "platform/FileDescriptor.h"
#include "platform/FileSystemName.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

extern char** environ;

namespace pelorix {

namespace {

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
    for (const std::string& text : CleanEnvironment(environ)) {
        const bool replaced =
            std::any_of(request.Environment.begin(), request.Environment.end(),
                        [&](const auto& variable) { return HasName(text, variable.first); });
        if (!replaced)
            env.push_back(text);
    }
    for (const auto& [name, value] : request.Environment)
        env.push_back(name + "=" + value);
    return env;
}

// The shell with stdin from /dev/null and standard output and error into one pipe.
ChildSetup ShellSetup(const CommandRequest& request) {
    ChildSetup setup;
    setup.Program = "/bin/sh";
    setup.Arguments = {"sh", "-c", FileSystemName(request.CommandLine)};
    setup.Environment = BuildEnvironment(request);
    if (!request.WorkDir.empty())
        setup.WorkDir = FileSystemName(request.WorkDir);
    setup.Input = ChildStream::Null;
    setup.Output = ChildStream::Pipe;
    setup.Error = ChildStream::Pipe;
    return setup;
}

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
    const Deadline deadline = Deadline::In(clock_, request.TimeLimitMs);
    int error = 0;
    auto command = ChildProcess::Start(ShellSetup(request), error);
    if (!command)
        return result;

    TOutputLines lines;
    const ChildProcess::OutputSink collect = [&lines](std::string_view bytes) {
        lines.Add(bytes);
        return true;
    };
    switch (command->Wait(deadline, collect, stopFd.Get())) {
    case ChildProcess::Wake::Exited:
        result.Outcome = CommandOutcome::Exited;
        break;
    case ChildProcess::Wake::Event:
        command->EndGroup(clock_, kTermGraceMs, collect);
        result.Outcome = CommandOutcome::Stopped;
        break;
    case ChildProcess::Wake::Deadline:
    case ChildProcess::Wake::Refused: // not from collect, which takes everything
        command->EndGroup(clock_, kTermGraceMs, collect);
        result.Outcome = CommandOutcome::TimedOut;
        break;
    }
    result.ExitCode = command->ExitCode();
    command->DrainOutput(collect);
    result.Output = lines.Finish();
    return result;
}

} // namespace pelorix
