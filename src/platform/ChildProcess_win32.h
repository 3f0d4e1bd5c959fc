#pragma once
// Windows only (included by the _win32 halves alone): what the helper processes and the
// command runner share to start a child program and talk to it through pipes with time limits.

#include "platform/NetworkDeadline.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace pelorix {

// One kernel handle, closed on destruction.
class WinHandle {
public:
    explicit WinHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~WinHandle() { Reset(); }
    WinHandle(const WinHandle&) = delete;
    WinHandle& operator=(const WinHandle&) = delete;
    WinHandle(WinHandle&& other) noexcept : handle_(other.Release()) {}
    WinHandle& operator=(WinHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle = nullptr) {
        if (Valid())
            CloseHandle(handle_);
        handle_ = handle;
    }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_;
};

enum class PipeRead {
    Data,    // bytes were appended
    Pending, // nothing yet; a read stays under way and Event() is set when it completes
    Ended    // every writer has closed its end, or the pipe failed
};

// Our end of a pipe to a child. Overlapped, so no read or write waits beyond its limit; the
// child's end is an ordinary blocking handle. A read or write under way is cancelled, and
// waited for, before the end closes.
class PipeEnd {
public:
    enum class Direction { FromChild, ToChild };

    // A new pipe: this end not inheritable, the child's end inheritable (for a handle list).
    static bool Open(Direction direction, PipeEnd& mine, WinHandle& childEnd);

    PipeEnd() = default;
    ~PipeEnd() { Close(); }
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;

    bool IsOpen() const { return pipe_.Valid(); }
    // Set when the read under way has completed.
    HANDLE Event() const { return event_.Get(); }

    // Starts a read when none is under way and waits at most waitMs for it.
    PipeRead Read(std::string& bytes, DWORD waitMs);
    // Writes all bytes; false when the reader went away or the deadline passed first.
    bool WriteAll(const std::string& bytes, const Deadline& deadline);
    void Close();

private:
    void CancelPending();

    WinHandle pipe_;
    WinHandle event_;
    OVERLAPPED overlapped_{};
    bool pending_ = false;
    bool ended_ = false;
    char buffer_[4096] = {};
};

// A started child in a job object of its own, so its whole process tree can be ended at once.
struct StartedChild {
    WinHandle Process;
    WinHandle Job;
};

struct ChildSetup {
    std::string Program;     // the program file itself, no search
    std::string CommandLine; // the whole line, the program's name first
    HANDLE Input = nullptr;  // the child's standard handles, inheritable
    HANDLE Output = nullptr;
    HANDLE Error = nullptr;
    const char* Environment = nullptr; // an ANSI block; nullptr: the own environment
    const char* WorkDir = nullptr;     // nullptr: the own working directory
    // The job ends everything in it when its last handle closes, so nothing outlives the caller.
    bool KillOnJobClose = false;
};

// Starts the child suspended, puts it into its job and only then lets it run, so not even its
// first instruction runs outside the job. It inherits exactly the three standard handles and
// gets no console window. nullopt when anything of it failed (the child is gone then).
std::optional<StartedChild> StartChild(const ChildSetup& setup);

// What is left until deadline, for a wait.
DWORD MillisecondsLeft(const Deadline& deadline);

// The NUL device, inheritable: standard input that is at its end at once, or an output that
// goes nowhere.
WinHandle OpenNulDevice(DWORD access);

} // namespace pelorix
