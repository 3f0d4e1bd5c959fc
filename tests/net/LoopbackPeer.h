#pragma once
// A scripted TCP peer for tests: listens on 127.0.0.1 (an ephemeral port unless one is
// given), accepts connections in its own thread and runs a handler on each. Every wait is
// bounded, so a test that goes wrong still ends. Stops and joins on destruction.

#include "TestSystem.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace pelorix::test {

class LoopbackPeer {
public:
    using Handler = std::function<void(int fd)>;

    explicit LoopbackPeer(Handler handler, int port = 0, int maxConnections = 1)
        : handler_(std::move(handler)), maxConnections_(maxConnections) {
        std::uint16_t bound = 0;
        listen_ = ListenOnLoopback(static_cast<std::uint16_t>(port), 8, bound);
        if (listen_ < 0)
            return;
        port_ = bound;
        thread_ = std::thread([this] { Run(); });
    }

    ~LoopbackPeer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listen_ >= 0)
            CloseSocket(listen_);
    }

    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return port_; }
    bool Listening() const { return listen_ >= 0; }
    int Accepted() const { return accepted_; }

    // Everything the handlers recorded with Record.
    std::string Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }
    void Record(const std::string& bytes) {
        std::lock_guard lock(mutex_);
        received_ += bytes;
    }

    bool Stopping() const { return stop_; }

    // Reads what arrives until the peer closes, the text ends with endMark, or timeoutMs passes.
    std::string ReadUntil(int fd, const std::string& endMark, int timeoutMs = 2000) {
        std::string data;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!stop_ && std::chrono::steady_clock::now() < deadline) {
            if (!WaitReadable(fd, 20))
                continue;
            char buffer[4096];
            const long n = ReceiveSome(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            data.append(buffer, static_cast<std::size_t>(n));
            if (!endMark.empty() && data.size() >= endMark.size() &&
                data.compare(data.size() - endMark.size(), endMark.size(), endMark) == 0)
                break;
        }
        Record(data);
        return data;
    }

    // Sends all of data; false when the other side went away.
    static bool SendAll(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const long n = SendSome(fd, data.data() + sent, data.size() - sent);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Holds the connection open until the client closes it or the peer stops.
    void WaitForClose(int fd, int timeoutMs = 5000) { ReadUntil(fd, {}, timeoutMs); }

private:
    void Run() {
        int served = 0;
        while (!stop_ && served < maxConnections_) {
            if (!WaitReadable(listen_, 20))
                continue;
            const int fd = AcceptConnection(listen_);
            if (fd < 0)
                continue;
            ++served;
            ++accepted_;
            handler_(fd);
            CloseSocket(fd);
        }
    }

    Handler handler_;
    int maxConnections_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
inline int UnusedLoopbackPort() {
    std::uint16_t port = 0;
    const int fd = ListenOnLoopback(0, 1, port);
    if (fd >= 0)
        CloseSocket(fd);
    return port;
}

} // namespace pelorix::test
