#include "SilentNameServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace pelorix::test {

namespace {

// The name a query asks for: the labels after the 12-byte header, joined by dots.
std::string QueriedName(const unsigned char* packet, std::size_t size) {
    std::string name;
    std::size_t at = 12;
    while (at < size && packet[at] != 0 && packet[at] < 64) {
        const std::size_t length = packet[at++];
        if (at + length > size)
            return {};
        if (!name.empty())
            name += '.';
        name.append(reinterpret_cast<const char*>(packet + at), length);
        at += length;
    }
    return name;
}

std::string Failed(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

SilentNameServer::SilentNameServer() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        problem_ = Failed("no UDP socket on 127.0.0.1:53");
        return;
    }
    char pattern[] = "/tmp/pelorix-resolv-XXXXXX";
    const int file = ::mkstemp(pattern);
    if (file < 0) {
        problem_ = Failed("mkstemp");
        return;
    }
    ::close(file);
    confFile_ = pattern;
    std::ofstream(confFile_) << "nameserver 127.0.0.1\noptions timeout:30 attempts:5\n";
    // Mounts made from here on stay in this namespace, and go with it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        problem_ = Failed("no private mount namespace");
        return;
    }
    if (::mount(confFile_.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) {
        problem_ = Failed("bind mount over /etc/resolv.conf");
        return;
    }
    mounted_ = true;
    reader_ = std::thread(&SilentNameServer::ReadAndDrop, this);
    ready_ = true;
}

SilentNameServer::~SilentNameServer() {
    stop_ = true;
    if (reader_.joinable())
        reader_.join();
    if (mounted_)
        ::umount2("/etc/resolv.conf", MNT_DETACH);
    if (!confFile_.empty())
        ::unlink(confFile_.c_str());
    if (fd_ >= 0)
        ::close(fd_);
}

void SilentNameServer::ReadAndDrop() {
    unsigned char packet[1500];
    while (!stop_) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::recv(fd_, packet, sizeof packet, 0);
        if (n <= 0)
            continue;
        const std::lock_guard hold(lock_);
        names_.push_back(QueriedName(packet, static_cast<std::size_t>(n)));
    }
}

int SilentNameServer::QueriesFor(const std::string& name) const {
    const std::lock_guard hold(lock_);
    return static_cast<int>(std::count(names_.begin(), names_.end(), name));
}

} // namespace pelorix::test
