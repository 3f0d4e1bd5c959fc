#pragma once
// Starts a real server program (pyftpdlib, aiosmtpd, http.server, PelorixSvc …) for an
// integration test and stops it, with everything it started, when the object goes away.

#include <string>
#include <vector>

namespace pelorix::test {

class ServerProcess {
public:
    // Starts argv[0] with the arguments in its own process group; output goes to logFile
    // (or is discarded when empty). workDir empty keeps the current directory.
    explicit ServerProcess(std::vector<std::string> argv, std::string logFile = {}, std::string workDir = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    int Pid() const { return pid_; }

    // Waits until something accepts connections on host:port (at most timeoutMs).
    bool WaitForPort(int port, int timeoutMs = 10000, const std::string& host = "127.0.0.1") const;

    // Sends a signal to the process itself.
    void Signal(int signo) const;

    // Waits for the process to end (at most timeoutMs); returns its exit status, or -1.
    int Wait(int timeoutMs);

    // Stops the whole process group (SIGTERM, then SIGKILL) and reaps it.
    void Stop();

private:
    int pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

// The Debian interpreter that has python3-pyftpdlib and python3-aiosmtpd.
inline const char* SystemPython() {
    return "/usr/bin/python3";
}

// Path of a file below the source tree or the build tree.
std::string SourcePath(const std::string& relative);
std::string BinaryPath(const std::string& relative);

} // namespace pelorix::test
