#include "platform/HelperProcess.h"

#include "platform/ChildProcess_win32.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace pelorix {

namespace {

// A helper that has closed its output is ending; it gets this long beyond the limit to be gone.
constexpr DWORD kExitGraceMs = 1000;

std::string OwnProgram() {
    std::string path(MAX_PATH, '\0');
    for (int round = 0; round < 6; ++round) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2); // cut short: try a larger buffer
    }
    return {};
}

std::string HelperProgram() {
    const std::string chosen = ChosenHelperProgram();
    return chosen.empty() ? OwnProgram() : chosen;
}

// Where the helper's own messages go: the caller's standard error when that is a file or a
// pipe someone reads, else nowhere (a service has none).
WinHandle HelperErrorOutput() {
    HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
    if (own != nullptr && own != INVALID_HANDLE_VALUE &&
        (GetFileType(own) == FILE_TYPE_DISK || GetFileType(own) == FILE_TYPE_PIPE)) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                            DUPLICATE_SAME_ACCESS))
            return WinHandle(copy);
    }
    return OpenNulDevice(GENERIC_WRITE);
}

// Everything the helper writes until it closes its end; nullopt on a time-out or overflow.
std::optional<std::string> ReceiveAll(PipeEnd& pipe, const Deadline& deadline) {
    std::string bytes;
    for (;;) {
        switch (pipe.Read(bytes, MillisecondsLeft(deadline))) {
        case PipeRead::Data:
            if (bytes.size() > kMaxMessage)
                return std::nullopt;
            break;
        case PipeRead::Pending:
            return std::nullopt; // the deadline passed
        case PipeRead::Ended:
            return bytes;
        }
    }
}

std::optional<std::string> ReadStandardInput() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string bytes;
    char buffer[8192];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &count, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE ? std::optional(bytes) : std::nullopt;
        if (count == 0)
            return bytes;
        bytes.append(buffer, count);
        if (bytes.size() > kMaxMessage)
            return std::nullopt;
    }
}

bool WriteStandardOutput(const std::string& bytes) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD count = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!WriteFile(output, bytes.data() + done, piece, &count, nullptr) || count == 0)
            return false;
        done += count;
    }
    return true;
}

} // namespace

std::optional<int> RunHelperIfAsked(int argc, char** argv, std::span<const HelperVerb> verbs) {
    if (argc != 4 || std::strcmp(argv[1], kHelperSwitch) != 0)
        return std::nullopt;
    // The caller's job object ends the helper with the caller, so unlike on Linux the parent
    // named in argv[3] needs no check. Request and answer are bytes, never text with line ends.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    return RunHelperVerb(argv[2], verbs, &ReadStandardInput, &WriteStandardOutput);
}

std::optional<std::string> RunInHelperProcess(const std::string& verb, const std::string& request,
                                              std::chrono::milliseconds limit) {
    // A network deadline of the calling thread (a network action of the manager) bounds the
    // helper too: it is killed when the deadline passes.
    const Deadline deadline = Deadline::In(SystemClock::Instance(), limit.count()).Sooner(NetworkDeadline());

    PipeEnd toHelper, fromHelper;
    WinHandle helperInput, helperOutput;
    if (!PipeEnd::Open(PipeEnd::Direction::ToChild, toHelper, helperInput) ||
        !PipeEnd::Open(PipeEnd::Direction::FromChild, fromHelper, helperOutput))
        return std::nullopt;
    WinHandle helperError = HelperErrorOutput();
    if (!helperError.Valid())
        return std::nullopt;

    ChildSetup setup;
    setup.Program = HelperProgram();
    if (setup.Program.empty())
        return std::nullopt;
    setup.CommandLine = "\"" + setup.Program + "\" " + kHelperSwitch + " " + verb + " " +
                        std::to_string(GetCurrentProcessId());
    setup.Input = helperInput.Get();
    setup.Output = helperOutput.Get();
    setup.Error = helperError.Get();
    setup.KillOnJobClose = true;
    auto helper = StartChild(setup);
    // The pipes end when the helper's side is closed: only the helper may hold it now.
    helperInput.Reset();
    helperOutput.Reset();
    helperError.Reset();
    if (!helper)
        return std::nullopt;

    const bool sent = toHelper.WriteAll(request, deadline);
    toHelper.Close();
    std::optional<std::string> answer = sent ? ReceiveAll(fromHelper, deadline) : std::nullopt;
    fromHelper.Close();
    DWORD code = 1;
    if (!answer ||
        WaitForSingleObject(helper->Process.Get(), MillisecondsLeft(deadline) + kExitGraceMs) !=
            WAIT_OBJECT_0 ||
        !GetExitCodeProcess(helper->Process.Get(), &code) || code != 0) {
        TerminateJobObject(helper->Job.Get(), 1);
        return std::nullopt;
    }
    return answer;
}

} // namespace pelorix
