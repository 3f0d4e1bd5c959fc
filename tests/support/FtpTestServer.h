#pragma once
// A real FTP server (Debian's pyftpdlib, tests/support/ftp_server.py) for one test: user
// "pelo" with password "secret" and full rights on a fresh temporary root, on 127.0.0.1.

#include "ServerProcess.h"
#include "TempDir.h"
#include "TestSystem.h"

#include <memory>
#include <string>

namespace pelorix::test {

// A port nobody listens on right now (the kernel's choice of an ephemeral one).
inline int FreeLoopbackPort() {
    std::uint16_t port = 0;
    const int fd = ListenOnLoopback(0, 1, port);
    if (fd >= 0)
        CloseSocket(fd);
    return port;
}

class FtpTestServer {
public:
    static constexpr const char* kUser = "pelo";
    static constexpr const char* kPassword = "secret";

    // port 0 picks a free one; masquerade makes the server announce that address in PASV.
    // throttle > 0 limits a data connection to that many bytes per second; noRename refuses
    // every rename.
    explicit FtpTestServer(int port = 0, std::string masquerade = {}, int throttle = 0, bool noRename = false)
        : port_(port == 0 ? FreeLoopbackPort() : port), masquerade_(std::move(masquerade)),
          throttle_(throttle), noRename_(noRename) {
        Start();
    }

    bool Start() {
        std::vector<std::string> argv{SystemPython(), SourcePath("tests/support/ftp_server.py"),
                                      root_.Path(),   std::to_string(port_),
                                      kUser,          kPassword};
        if (!masquerade_.empty()) {
            argv.push_back("--masquerade");
            argv.push_back(masquerade_);
        }
        if (noRename_)
            argv.push_back("--no-rename");
        if (throttle_ > 0) {
            argv.push_back("--throttle");
            argv.push_back(std::to_string(throttle_));
        }
        process_ = std::make_unique<ServerProcess>(argv, log_.File("ftp.log"));
        ready_ = process_->WaitForPort(port_, 15000);
        return ready_;
    }
    void Stop() {
        process_.reset();
        ready_ = false;
    }

    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    int Pid() const { return process_ ? process_->Pid() : -1; }
    const TempDir& Root() const { return root_; }
    std::string Log() const { return log_.Read("ftp.log"); }

private:
    TempDir root_;
    TempDir log_;
    int port_;
    std::string masquerade_;
    int throttle_ = 0;
    bool noRename_ = false;
    std::unique_ptr<ServerProcess> process_;
    bool ready_ = false;
};

} // namespace pelorix::test
