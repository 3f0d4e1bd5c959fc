#include "platform/ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace pelorix {

namespace {

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::optional<std::string> ReadUntilEnd(int fd) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n == 0 ? std::optional<std::string>(bytes) : std::nullopt;
    }
}

} // namespace

std::optional<std::string> RunInChildProcess(const std::function<std::string()>& work) {
    int answer[2];
    if (pipe2(answer, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        close(answer[0]);
        close(answer[1]);
        return std::nullopt;
    }
    if (child == 0) {
        close(answer[0]);
        // A service that ends (or is ended) takes its upload with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(1);
        std::string result;
        try {
            result = work();
        } catch (...) {
            _exit(1);
        }
        WriteAll(answer[1], "+" + result);
        _exit(0);
    }
    close(answer[1]);
    std::optional<std::string> bytes = ReadUntilEnd(answer[0]);
    close(answer[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!bytes || bytes->empty() || (*bytes)[0] != '+')
        return std::nullopt;
    return bytes->substr(1);
}

} // namespace pelorix
