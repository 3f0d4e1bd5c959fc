#include "ServerProcess.h"

#include "platform/TcpSocket.h"

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace pelorix::test {

ServerProcess::ServerProcess(std::vector<std::string> argv, std::string logFile, std::string workDir) {
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    const std::string log = logFile.empty() ? "/dev/null" : logFile;

    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        const int nul = open("/dev/null", O_RDONLY);
        if (nul >= 0)
            dup2(nul, 0);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid_ > 0)
        setpgid(pid_, pid_);
}

ServerProcess::~ServerProcess() {
    Stop();
}

bool ServerProcess::WaitForPort(int port, int timeoutMs, const std::string& host) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        TcpSocket probe;
        if (probe.Connect(host, static_cast<std::uint16_t>(port), 500) == TcpResult::Ok)
            return true;
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void ServerProcess::Signal(int signo) const {
    if (pid_ > 0 && !reaped_)
        kill(pid_, signo);
}

int ServerProcess::Wait(int timeoutMs) {
    if (pid_ <= 0)
        return -1;
    if (reaped_)
        return status_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ServerProcess::Stop() {
    if (pid_ <= 0)
        return;
    kill(-pid_, SIGTERM);
    if (Wait(3000) < 0 && !reaped_) {
        kill(-pid_, SIGKILL);
        Wait(3000);
    }
    kill(-pid_, SIGKILL); // children that outlived their parent
}

} // namespace pelorix::test
