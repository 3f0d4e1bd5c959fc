#pragma once
// POSIX only (included by the _posix halves alone): the one way this system starts a child
// program. The helper processes, the command after a publication and the service control
// layer's start of a service all go through it.
//
// The callers are threaded, so a child forked from them may only make async-signal-safe calls
// until it execs (a lock another thread held at the fork stays locked for ever in the child):
// everything the child needs is prepared before the fork, and between fork and exec it only
// makes system calls. It starts with default signal handling, nothing blocked and only its
// three standard descriptors open, whatever the caller had open or set up.

#include "platform/Clock.h"
#include "platform/FileDescriptor.h"
#include "platform/NetworkDeadline.h"

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

// Where one of the child's standard streams goes.
enum class ChildStream {
    Inherit, // the caller's own
    Null,    // /dev/null
    // A channel to the caller. Standard input is a socket, so writing to a child that stopped
    // reading fails instead of raising SIGPIPE; standard output a pipe (a shell command may
    // open /dev/stdout, which a socket refuses); standard error goes into the same pipe.
    Pipe,
};

// The account a child runs under, for good: it cannot regain the caller's rights, and nothing
// it starts can gain any (no new privileges).
struct ChildCredentials {
    uid_t Uid = 0;
    gid_t Gid = 0;
    std::vector<gid_t> Groups;
};

// Gives up the caller's rights for good, in a child before its exec or in a program that
// leaves root at its start. False (errno set) when any step failed or they could still be
// regained; nothing may run then. Only system calls, so safe between fork and exec.
bool DropToAccount(const ChildCredentials& account);

struct ChildSetup {
    std::string Program;                // the file executed, no search along PATH
    std::vector<std::string> Arguments; // the whole list, the program's name first
    // NAME=VALUE each; nullopt: the caller's environment.
    std::optional<std::vector<std::string>> Environment;
    std::string WorkDir; // empty: the caller's
    ChildStream Input = ChildStream::Null;
    ChildStream Output = ChildStream::Null;
    ChildStream Error = ChildStream::Inherit; // Pipe only together with Output == Pipe
    std::optional<ChildCredentials> Credentials;
    std::optional<mode_t> Umask; // nullopt: the caller's
};

// A started child in a process group of its own, owned by the caller: until it has been
// reaped, destroying this kills the whole group and reaps the child, so no path leaves a
// process or a descriptor behind. Used by one thread at a time.
class ChildProcess {
public:
    enum class Wake {
        Exited,   // the child has ended and is reaped
        Event,    // the descriptor to watch became readable
        Deadline, // the time limit passed first
        Refused,  // the output sink refused more bytes
    };
    // Takes what the child wrote; false when it wants no more (the wait ends then).
    using OutputSink = std::function<bool(std::string_view)>;

    // nullopt with error set to the errno when the child could not be started or its program
    // not executed (a missing file, a working directory that is not there, refused rights).
    static std::optional<ChildProcess> Start(const ChildSetup& setup, int& error);

    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // Writes all bytes to the child's standard input and closes it, so the child sees its end.
    // False when the child stopped reading or the deadline passed first.
    bool WriteInput(std::string_view bytes, const Deadline& deadline);

    // Waits until the child has ended, wakeFd (when not -1) became readable or the deadline
    // passed, handing everything it writes to sink meanwhile.
    Wake Wait(const Deadline& deadline, const OutputSink& sink, int wakeFd = -1);

    // Hands over what is still in the output pipe once the child has ended. A process it left
    // behind may keep writing, so this reads only a bounded amount.
    void DrainOutput(const OutputSink& sink);

    // SIGTERM to the whole group, SIGKILL to what is left after graceMs; the child is reaped.
    void EndGroup(const IClock& clock, int graceMs, const OutputSink& sink);

    // SIGKILL to the whole group at once; the child is reaped.
    void KillGroup();

    // Once reaped: the exit status, or 128 + the number of the signal that ended it.
    int ExitCode() const;

private:
    ChildProcess(pid_t pid, Fd input, Fd output);
    bool Reaped();
    void AwaitReap();
    // False when the sink refused more.
    bool ReadOutput(const OutputSink& sink);

    pid_t pid_;
    Fd input_;
    Fd output_;
    Fd pidFd_; // readable once the child has ended; invalid on kernels without pidfd_open
    int status_ = 0;
    bool reaped_ = false;
};

// Starts a program detached: a session of its own, and not a child of the caller (its parent
// ends at once, so the system reaps it). Its standard streams may not be pipes. The program's
// pid, or 0 with error set to the errno when it could not be started or not executed.
pid_t StartDetached(const ChildSetup& setup, int& error);

// The null-terminated list of pointers execve takes, into texts (which must outlive it).
std::vector<char*> ExecPointers(std::vector<std::string>& texts);

} // namespace pelorix
