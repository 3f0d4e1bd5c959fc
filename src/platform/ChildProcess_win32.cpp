#include "platform/ChildProcess_win32.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace pelorix {

namespace {

// How long a process told to end may take to be gone.
constexpr DWORD kEndWaitMs = 5000;

// Anonymous pipes know no overlapped calls; a named pipe with a name used once does.
std::string UniquePipeName() {
    static std::atomic<unsigned long> counter{0};
    return "\\\\.\\pipe\\Pelorix-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64()) + "-" + std::to_string(++counter);
}

// The attribute list naming the handles a child inherits, released on every path.
class InheritList {
public:
    explicit InheritList(std::vector<HANDLE> handles) : handles_(std::move(handles)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_ = std::make_unique<unsigned char[]>(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        list_ = list;
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
        }
    }
    ~InheritList() {
        if (list_ != nullptr)
            DeleteProcThreadAttributeList(list_);
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

private:
    std::vector<HANDLE> handles_; // must live as long as the list
    std::unique_ptr<unsigned char[]> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

WinHandle NewJob(bool killOnClose) {
    WinHandle job(CreateJobObjectA(nullptr, nullptr));
    if (!job.Valid())
        return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // A crashing child ends at once instead of waiting for someone to close an error box.
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (killOnClose)
        limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        job.Reset();
    return job;
}

} // namespace

bool PipeEnd::Open(Direction direction, PipeEnd& mine, WinHandle& childEnd) {
    mine.Close();
    childEnd.Reset();
    const bool fromChild = direction == Direction::FromChild;
    const std::string name = UniquePipeName();
    WinHandle pipe(
        CreateNamedPipeA(name.c_str(),
                         (fromChild ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND) | FILE_FLAG_OVERLAPPED |
                             FILE_FLAG_FIRST_PIPE_INSTANCE,
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                         64 * 1024, 64 * 1024, 0, nullptr));
    if (!pipe.Valid())
        return false;
    // The pipe has one instance: once the child's end is ours, nobody else can open it, and
    // when someone else got there first, this open fails and nothing is written or read.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    WinHandle other(CreateFileA(name.c_str(), fromChild ? GENERIC_WRITE : GENERIC_READ, 0, &inherit,
                                OPEN_EXISTING, 0, nullptr));
    WinHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!other.Valid() || !event.Valid())
        return false;
    mine.pipe_ = std::move(pipe);
    mine.event_ = std::move(event);
    mine.pending_ = false;
    mine.ended_ = false;
    childEnd = std::move(other);
    return true;
}

PipeRead PipeEnd::Read(std::string& bytes, DWORD waitMs) {
    if (!pipe_.Valid() || ended_)
        return PipeRead::Ended;
    if (!pending_) {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.Get();
        if (!ReadFile(pipe_.Get(), buffer_, sizeof buffer_, nullptr, &overlapped_) &&
            GetLastError() != ERROR_IO_PENDING) {
            ended_ = true; // ERROR_BROKEN_PIPE: the writers are gone
            return PipeRead::Ended;
        }
        pending_ = true;
    }
    if (WaitForSingleObject(event_.Get(), waitMs) != WAIT_OBJECT_0)
        return PipeRead::Pending;
    pending_ = false;
    DWORD count = 0;
    if (!GetOverlappedResult(pipe_.Get(), &overlapped_, &count, FALSE)) {
        ended_ = true;
        return PipeRead::Ended;
    }
    bytes.append(buffer_, count);
    return PipeRead::Data;
}

DWORD MillisecondsLeft(const Deadline& deadline) {
    return static_cast<DWORD>(deadline.Cap(24 * 3600 * 1000));
}

bool PipeEnd::WriteAll(const std::string& bytes, const Deadline& deadline) {
    std::size_t done = 0;
    while (done < bytes.size() && pipe_.Valid()) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 64 * 1024));
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_.Get();
        if (!WriteFile(pipe_.Get(), bytes.data() + done, piece, nullptr, &overlapped_) &&
            GetLastError() != ERROR_IO_PENDING)
            return false;
        pending_ = true;
        if (WaitForSingleObject(event_.Get(), MillisecondsLeft(deadline)) != WAIT_OBJECT_0) {
            CancelPending();
            return false;
        }
        pending_ = false;
        DWORD count = 0;
        if (!GetOverlappedResult(pipe_.Get(), &overlapped_, &count, FALSE) || count == 0)
            return false;
        done += count;
    }
    return done == bytes.size();
}

void PipeEnd::CancelPending() {
    if (!pending_)
        return;
    // The system writes into overlapped_ and buffer_ until the call has ended.
    CancelIoEx(pipe_.Get(), &overlapped_);
    DWORD count = 0;
    GetOverlappedResult(pipe_.Get(), &overlapped_, &count, TRUE);
    pending_ = false;
}

void PipeEnd::Close() {
    if (pipe_.Valid())
        CancelPending();
    pipe_.Reset();
    event_.Reset();
    pending_ = false;
    ended_ = true;
}

std::optional<StartedChild> StartChild(const ChildSetup& setup) {
    StartedChild child;
    child.Job = NewJob(setup.KillOnJobClose);
    if (!child.Job.Valid())
        return std::nullopt;

    std::vector<HANDLE> handles;
    for (HANDLE handle : {setup.Input, setup.Output, setup.Error}) {
        if (std::find(handles.begin(), handles.end(), handle) == handles.end())
            handles.push_back(handle); // a handle named twice makes the list invalid
    }
    InheritList inherit(handles);
    if (inherit.Get() == nullptr)
        return std::nullopt;

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = setup.Input;
    startup.StartupInfo.hStdOutput = setup.Output;
    startup.StartupInfo.hStdError = setup.Error;
    startup.lpAttributeList = inherit.Get();
    std::string line = setup.CommandLine; // CreateProcess may write into it
    PROCESS_INFORMATION info{};
    // A service has no console; the child gets one without a window rather than popping one up.
    const DWORD flags = CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT;
    if (!CreateProcessA(setup.Program.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                        const_cast<char*>(setup.Environment), setup.WorkDir, &startup.StartupInfo, &info))
        return std::nullopt;
    child.Process.Reset(info.hProcess);
    WinHandle thread(info.hThread);
    if (!AssignProcessToJobObject(child.Job.Get(), info.hProcess) ||
        ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, kEndWaitMs);
        return std::nullopt;
    }
    return child;
}

WinHandle OpenNulDevice(DWORD access) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    WinHandle nul(
        CreateFileA("NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    if (!nul.Valid())
        nul.Reset();
    return nul;
}

} // namespace pelorix
