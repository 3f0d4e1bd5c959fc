#pragma once
// A scripted server for wire tests: a thread listens on 127.0.0.1, accepts one connection
// and plays the server's side line by line, while every byte the client sends is recorded
// for a byte-exact comparison. Every wait is bounded, so a client that misbehaves makes the
// test fail instead of hanging it.

#include "TestSystem.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace pelorix::test {

// The accepted connection as the script sees it.
class PeerConnection {
public:
    explicit PeerConnection(int fd) : fd_(fd) {}

    // False once the client no longer takes the bytes.
    bool Send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const long n = SendSome(fd_, bytes.data() + sent, bytes.size() - sent);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Reads until the received bytes (since the last read) end with terminator; gives them,
    // terminator included. Empty when the client closed or stayed silent for timeoutMs.
    std::string ReadUntil(const std::string& terminator, int timeoutMs = 5000) {
        std::string got;
        while (got.size() < terminator.size() ||
               got.compare(got.size() - terminator.size(), terminator.size(), terminator) != 0) {
            char c = 0;
            if (!ReadByte(c, timeoutMs))
                break;
            got += c;
        }
        return got;
    }

    // One line through CR LF.
    std::string ReadLine(int timeoutMs = 5000) { return ReadUntil("\r\n", timeoutMs); }

    // Reads until the client closes (or is silent for timeoutMs).
    void ReadToEnd(int timeoutMs = 5000) {
        char c = 0;
        while (ReadByte(c, timeoutMs)) {
        }
    }

    // Ends the server's side of the connection (the client reads its end), still recording
    // what the client sends.
    void CloseWrite() { ShutdownWrite(fd_); }

    std::string Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    // Takes what the client sent in pieces and hands it out byte by byte: a receive per byte
    // is slow enough under Wine to make a client's reply wait run out.
    bool ReadByte(char& c, int timeoutMs) {
        if (next_ == pending_.size()) {
            if (!WaitReadable(fd_, timeoutMs))
                return false;
            char piece[4096];
            const long n = ReceiveSome(fd_, piece, sizeof piece);
            if (n <= 0)
                return false;
            pending_.assign(piece, static_cast<std::size_t>(n));
            next_ = 0;
        }
        c = pending_[next_++];
        std::lock_guard lock(mutex_);
        received_ += c;
        return true;
    }

    int fd_;
    std::string pending_;
    std::size_t next_ = 0;
    std::mutex mutex_;
    std::string received_;
};

class ScriptedPeer {
public:
    // Listens on 127.0.0.1:port (0 picks a free port).
    explicit ScriptedPeer(std::uint16_t port = 0) { listen_ = ListenOnLoopback(port, 4, port_); }

    ~ScriptedPeer() {
        Finish();
        if (listen_ >= 0)
            CloseSocket(listen_);
    }

    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t Port() const { return port_; }

    // Accepts one connection (waiting at most acceptTimeoutMs) and runs script on it; after
    // the script, whatever the client still sends is recorded until it closes.
    void Run(std::function<void(PeerConnection&)> script, int acceptTimeoutMs = 10000) {
        thread_ = std::thread([this, script = std::move(script), acceptTimeoutMs] {
            if (listen_ < 0 || !WaitReadable(listen_, acceptTimeoutMs))
                return;
            const int fd = AcceptConnection(listen_);
            if (fd < 0)
                return;
            PeerConnection connection(fd);
            accepted_ = true;
            script(connection);
            connection.ReadToEnd();
            CloseSocket(fd);
            std::lock_guard lock(mutex_);
            received_ = connection.Received();
        });
    }

    // Waits for the script to end; gives every byte the client sent.
    std::string Finish() {
        if (thread_.joinable())
            thread_.join();
        std::lock_guard lock(mutex_);
        return received_;
    }

    bool Accepted() {
        Finish();
        return accepted_;
    }

private:
    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::string received_;
    bool accepted_ = false;
};

} // namespace pelorix::test
