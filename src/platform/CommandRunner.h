#pragma once
// Runs a user's command line after a publication and waits for it, bounded in time. The
// service's worker owns one runner and calls Run from its own thread; Stop may come from the
// control thread at any time.

#include "platform/Clock.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelorix {

// Texts are system text (Latin-1); on Linux the shell and the file system get them in UTF-8,
// on Windows they go to the ANSI calls as they stand.
struct CommandRequest {
    std::string CommandLine; // handed to the shell as it stands
    std::string WorkDir;     // the command's working directory
    // Added to the service's own environment (on Linux only its clean part, see
    // CleanEnvironment_posix.h), replacing variables of the same name.
    std::vector<std::pair<std::string, std::string>> Environment;
    int TimeLimitMs = 60000;
};

enum class CommandOutcome {
    Exited,     // ExitCode holds its status
    TimedOut,   // ended after the time limit
    Stopped,    // ended by Stop
    NotStarted, // no shell could be started for it
};

struct CommandResult {
    CommandOutcome Outcome = CommandOutcome::NotStarted;
    // The exit status; 128 + the signal's number when a signal ended it. On Windows cmd.exe's
    // "not recognized" (9009) is given as 127, the code of a posix shell that found no command,
    // and a command the runner ended gives 143, as one that SIGTERM ended.
    int ExitCode = 0;
    // The first lines of what it wrote to standard output and error, see TOutputLines.
    std::vector<std::string> Output;
};

// Collects the first few lines of a command's output: control characters are removed, each
// line is cut to maxLength characters, and lines left empty are not counted. Everything beyond
// is dropped, so a command that writes without end costs no memory.
class TOutputLines {
public:
    static constexpr std::size_t kMaxLines = 5;
    static constexpr std::size_t kMaxLength = 200;

    void Add(std::string_view bytes);
    // The lines, the last one also when no line end followed it.
    std::vector<std::string> Finish();

private:
    void EndLine();

    std::vector<std::string> lines_;
    std::string current_;
};

class ICommandRunner {
public:
    virtual ~ICommandRunner() = default;
    // Starts the command and waits until it ends, its time limit has run out or Stop came.
    virtual CommandResult Run(const CommandRequest& request) = 0;
    // From any thread: ends a command under way at once, and every later Run without starting.
    virtual void Stop() = 0;
};

// Linux: "/bin/sh -c" started as a fresh program through the child-process launcher in
// a process group of its own, stdin from /dev/null, standard output and error into one pipe.
// At the limit or a stop the whole group gets SIGTERM, and SIGKILL after kTermGraceMs.
// Windows: "cmd.exe /s /c" (COMSPEC) started with CreateProcess in a job object of its own,
// stdin from NUL, standard output and error into one pipe; at the limit or a stop the whole
// job is terminated at once, as a console program without a console has no gentler signal.
class TShellCommandRunner final : public ICommandRunner {
public:
    static constexpr int kTermGraceMs = 1000;

    // refuseRoot: a process running as root runs no command at all (NotStarted), so what
    // anyone who may edit the settings writes never runs with root's rights. Windows has no
    // root; the service runs as the account it was installed for, and nothing is refused there.
    explicit TShellCommandRunner(const IClock& clock, bool refuseRoot = true);
    ~TShellCommandRunner() override;
    TShellCommandRunner(const TShellCommandRunner&) = delete;
    TShellCommandRunner& operator=(const TShellCommandRunner&) = delete;

    CommandResult Run(const CommandRequest& request) override;
    void Stop() override;

private:
    // Stays set once Stop came: an eventfd on Linux, a manual-reset event on Windows.
    struct StopSignal;

    const IClock& clock_;
    bool refuseRoot_;
    std::unique_ptr<StopSignal> stop_;
};

} // namespace pelorix
