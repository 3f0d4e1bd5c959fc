#include "platform/HelperProcess.h"

#include "platform/ChildProcess_posix.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace pelorix {

namespace {

std::string HelperProgram() {
    const std::string chosen = ChosenHelperProgram();
    return chosen.empty() ? "/proc/self/exe" : chosen;
}

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

    ChildSetup setup;
    setup.Program = HelperProgram();
    setup.Arguments = {"PelorixHelper", kHelperSwitch, verb, std::to_string(::getpid())};
    setup.Input = ChildStream::Pipe;
    setup.Output = ChildStream::Pipe;
    int error = 0;
    auto helper = ChildProcess::Start(setup, error);
    if (!helper || !helper->WriteInput(request, deadline))
        return std::nullopt;
    std::string answer;
    const auto collect = [&answer](std::string_view bytes) {
        answer.append(bytes);
        return answer.size() <= kMaxMessage;
    };
    if (helper->Wait(deadline, collect) != ChildProcess::Wake::Exited || helper->ExitCode() != 0)
        return std::nullopt;
    helper->DrainOutput(collect);
    if (answer.size() > kMaxMessage)
        return std::nullopt;
    return answer;
}

} // namespace pelorix
