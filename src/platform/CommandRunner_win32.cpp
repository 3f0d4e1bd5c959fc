#include "platform/CommandRunner.h"

#include "platform/ChildProcess_win32.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace pelorix {

namespace {

// cmd.exe's errorlevel for a command it does not know, and the code a posix shell gives for it.
constexpr DWORD kCmdNotRecognized = 9009;
constexpr int kShellNotFound = 127;
// A command ended by the runner gives what a posix shell ended by SIGTERM gives.
constexpr UINT kEndedCode = 128 + 15;
// How long the end of a terminated job may take to show.
constexpr DWORD kEndWaitMs = 5000;
// Reads per look at the pipe, so a command that writes without pause cannot hold the runner.
constexpr int kReadRounds = 256;

std::string ShellProgram() {
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("COMSPEC", path, sizeof path);
    if (length > 0 && length < sizeof path)
        return path;
    const UINT dir = GetSystemDirectoryA(path, sizeof path);
    if (dir == 0 || dir >= sizeof path)
        return "C:\\Windows\\System32\\cmd.exe";
    return std::string(path) + "\\cmd.exe";
}

// The name of an environment entry in capitals; names are compared as Windows compares them,
// without regard to case. The drive entries ("=C:=C:\dir") begin with their '='.
std::string UpperName(std::string_view entry) {
    const auto equals = entry.find('=', 1);
    std::string name(entry.substr(0, equals));
    if (!name.empty())
        CharUpperBuffA(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

// The service's environment with the request's variables set, as one ANSI block, sorted by
// name as Windows keeps its blocks.
std::string BuildEnvironment(const CommandRequest& request) {
    std::vector<std::string> entries;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1)
            entries.emplace_back(entry);
        FreeEnvironmentStringsA(block);
    }
    for (const auto& [name, value] : request.Environment) {
        std::string upper = name;
        CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
        std::erase_if(entries, [&](const std::string& entry) { return UpperName(entry) == upper; });
        entries.push_back(name + "=" + value);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::string& a, const std::string& b) { return UpperName(a) < UpperName(b); });
    std::string joined;
    for (const std::string& entry : entries) {
        joined += entry;
        joined += '\0';
    }
    joined += '\0';
    if (entries.empty())
        joined += '\0';
    return joined;
}

// One started command: reads its output while waiting for it and ends its job.
class RunningCommand {
public:
    enum class Wake { Exited, Stop, Deadline };

    RunningCommand(StartedChild child, PipeEnd& output, HANDLE stop, const IClock& clock)
        : child_(std::move(child)), output_(output), stop_(stop), clock_(clock) {}

    // Waits until the command ended, the stop came or untilMs passed.
    Wake WaitUntil(long long untilMs) {
        for (;;) {
            ReadOutput();
            const long long left = untilMs - clock_.MonotonicMs();
            HANDLE handles[3] = {child_.Process.Get(), stop_, output_.Event()};
            const DWORD count = output_.IsOpen() ? 3 : 2;
            const DWORD woke = WaitForMultipleObjects(
                count, handles, FALSE, static_cast<DWORD>(std::clamp<long long>(left, 0, INT_MAX)));
            if (woke == WAIT_OBJECT_0)
                return Wake::Exited;
            if (woke == WAIT_OBJECT_0 + 1)
                return Wake::Stop;
            if (woke == WAIT_OBJECT_0 + 2)
                continue;
            if (woke == WAIT_TIMEOUT && left <= 0)
                return Wake::Deadline;
            if (woke != WAIT_TIMEOUT)
                return Wake::Deadline; // the wait itself failed: end the command rather than hang
        }
    }

    // Everything the command started goes at once.
    void EndJob() {
        TerminateJobObject(child_.Job.Get(), kEndedCode);
        WaitForSingleObject(child_.Process.Get(), kEndWaitMs);
    }

    // What is still in the pipe once the command has ended; a process it left behind may
    // keep writing, so this reads only what is there.
    std::vector<std::string> TakeOutput() {
        ReadOutput();
        output_.Close();
        return lines_.Finish();
    }

    int ExitCode() const {
        DWORD code = 0;
        if (!GetExitCodeProcess(child_.Process.Get(), &code))
            return -1;
        return static_cast<int>(code);
    }

private:
    void ReadOutput() {
        std::string bytes;
        for (int round = 0; round < kReadRounds; ++round) {
            bytes.clear();
            const PipeRead read = output_.Read(bytes, 0);
            if (read == PipeRead::Data)
                lines_.Add(bytes);
            if (read == PipeRead::Ended)
                output_.Close(); // every writer has closed it
            if (read != PipeRead::Data)
                return;
        }
    }

    StartedChild child_;
    PipeEnd& output_;
    HANDLE stop_;
    const IClock& clock_;
    TOutputLines lines_;
};

} // namespace

// A manual-reset event that stays set once Stop set it.
struct TShellCommandRunner::StopSignal {
    WinHandle Event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
};

// refuseRoot has no meaning here: Windows has no root, and the service runs as the account it
// was installed for, whose rights the administrator chose.
TShellCommandRunner::TShellCommandRunner(const IClock& clock, bool refuseRoot)
    : clock_(clock), refuseRoot_(refuseRoot), stop_(std::make_unique<StopSignal>()) {}

TShellCommandRunner::~TShellCommandRunner() = default;

void TShellCommandRunner::Stop() {
    if (stop_->Event.Valid())
        SetEvent(stop_->Event.Get());
}

CommandResult TShellCommandRunner::Run(const CommandRequest& request) {
    CommandResult result;
    static_cast<void>(refuseRoot_);
    HANDLE stop = stop_->Event.Get();
    if (!stop_->Event.Valid())
        return result;
    if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
        result.Outcome = CommandOutcome::Stopped;
        return result;
    }
    PipeEnd output;
    WinHandle commandOutput;
    WinHandle commandInput = OpenNulDevice(GENERIC_READ);
    if (!commandInput.Valid() || !PipeEnd::Open(PipeEnd::Direction::FromChild, output, commandOutput))
        return result;

    const std::string environment = BuildEnvironment(request);
    ChildSetup setup;
    setup.Program = ShellProgram();
    // /s: the quotes around the line are taken off and the line runs as it stands, with quotes
    // of its own.
    setup.CommandLine = "\"" + setup.Program + "\" /s /c \"" + request.CommandLine + "\"";
    setup.Input = commandInput.Get();
    setup.Output = commandOutput.Get();
    setup.Error = commandOutput.Get();
    setup.Environment = environment.c_str();
    setup.WorkDir = request.WorkDir.empty() ? nullptr : request.WorkDir.c_str();
    const long long deadline = clock_.MonotonicMs() + request.TimeLimitMs;
    auto child = StartChild(setup);
    commandOutput.Reset(); // the pipe ends when the command's side is closed
    commandInput.Reset();
    if (!child)
        return result;

    RunningCommand command(std::move(*child), output, stop, clock_);
    switch (command.WaitUntil(deadline)) {
    case RunningCommand::Wake::Exited:
        result.Outcome = CommandOutcome::Exited;
        break;
    case RunningCommand::Wake::Stop:
        command.EndJob();
        result.Outcome = CommandOutcome::Stopped;
        break;
    case RunningCommand::Wake::Deadline:
        command.EndJob();
        result.Outcome = CommandOutcome::TimedOut;
        break;
    }
    result.ExitCode = command.ExitCode();
    if (result.Outcome == CommandOutcome::Exited && result.ExitCode == static_cast<int>(kCmdNotRecognized))
        result.ExitCode = kShellNotFound;
    result.Output = command.TakeOutput();
    return result;
}

} // namespace pelorix
