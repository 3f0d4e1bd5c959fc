#include "net/SimpSock.h"

#include "platform/NetworkDeadline.h"
#include "platform/TcpSocket.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

namespace pelorix {

namespace {

constexpr std::size_t kGreetingBytes = 1024;
constexpr std::size_t kChunkBytes = 4095;
constexpr std::size_t kTailChars = 32;

// The chunk as a zero-terminated text: a zero byte inside cuts it there.
std::size_t TextLength(const char* chunk, std::size_t n) {
    const void* zero = std::memchr(chunk, 0, n);
    return zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - chunk) : n;
}

// The end tag of the page, in any letter case, among the last characters received.
bool EndsWithPageEnd(const std::string& data) {
    std::string tail = data.substr(data.size() - std::min(data.size(), kTailChars));
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return tail.find("/HTML>") != std::string::npos || tail.find("/BODY>") != std::string::npos;
}

} // namespace

int TSimpSock::Connect(TcpSocket& socket, const Deadline& deadline) {
    LocalIP.clear();
    if (Port <= 0 || Port > 65535)
        return kUnreachable;
    switch (socket.Connect(Host, static_cast<std::uint16_t>(Port), deadline.Cap(ConnectTimeoutMs))) {
    case TcpResult::Ok:
        break;
    case TcpResult::ConnectFailed:
    case TcpResult::Timeout:
        return kUnreachable;
    default:
        return kNoNetwork;
    }
    LocalIP = socket.LocalAddress();
    return kOk;
}

int TSimpSock::PingFTP() {
    Port = FtpPort;
    if (Host.size() < 2)
        return kBadParameters;
    try {
        return PingBody();
    } catch (...) {
        return kNoNetwork;
    }
}

int TSimpSock::PingBody() {
    const Deadline deadline = Deadline::In(clock_, PingDeadlineMs);
    const ScopedNetworkDeadline exchange(deadline);
    TcpSocket socket;
    const int result = Connect(socket, deadline);
    if (result != kOk || !ExpectGreeting)
        return result;
    // The address is known once connected: a greeting or goodbye that is late only ends the wait.
    char buffer[kGreetingBytes];
    std::size_t n = 0;
    socket.Receive(buffer, sizeof buffer, deadline.Cap(ReceiveTimeoutMs), n);
    if (n > 0) {
        socket.SendAll("QUIT\r\n", deadline.Cap(ReceiveTimeoutMs));
        socket.Receive(buffer, sizeof buffer, deadline.Cap(ReceiveTimeoutMs),
                       n); // the goodbye, not looked at
    }
    return kOk;
}

int TSimpSock::GetHTTP() {
    Port = HttpPort;
    if (Host.size() < 2 || Data.empty())
        return kBadParameters;
    try {
        return HttpBody();
    } catch (...) {
        return kNoNetwork;
    }
}

int TSimpSock::HttpBody() {
    const Deadline deadline = Deadline::In(clock_, HttpDeadlineMs);
    const ScopedNetworkDeadline exchange(deadline);
    TcpSocket socket;
    const int result = Connect(socket, deadline);
    if (result != kOk)
        return result;
    socket.SendAll("GET " + Data + " HTTP/1.0\r\nHost: " + Host + "\r\n\r\n", deadline.Cap(ReceiveTimeoutMs));

    Data.clear();
    char buffer[kChunkBytes + 1];
    for (;;) {
        const std::size_t room = std::min(kChunkBytes, kMaxResponseBytes - Data.size());
        std::size_t n = 0;
        // A wait cut short by the exchange's deadline ends the exchange; one the peer's silence
        // ended only ends the reading.
        const int wait = deadline.Cap(ReceiveTimeoutMs);
        const TcpResult received = socket.Receive(buffer, room, wait, n);
        if (received == TcpResult::Timeout && (wait < ReceiveTimeoutMs || deadline.Passed())) {
            Data.clear();
            return kTimedOut;
        }
        if (received != TcpResult::Ok || n == 0)
            break; // closed, failed, or the peer went silent
        Data.append(buffer, TextLength(buffer, n));
        if (Data.size() >= kMaxResponseBytes || EndsWithPageEnd(Data))
            break;
    }
    return kOk;
}

int TSimpSock::SendToMonitor(const std::string& text) {
    Port = MonitorPort;
    Host = "localhost";
    try {
        return MonitorBody(text);
    } catch (...) {
        return kNoNetwork;
    }
}

int TSimpSock::MonitorBody(const std::string& text) {
    // Bounded by the connect and send limits alone.
    const Deadline deadline = Deadline::In(clock_, ConnectTimeoutMs + ReceiveTimeoutMs);
    const ScopedNetworkDeadline exchange(deadline);
    TcpSocket socket;
    const int result = Connect(socket, deadline);
    if (result == kOk)
        socket.SendAll(text, ReceiveTimeoutMs);
    return result;
}

} // namespace pelorix
