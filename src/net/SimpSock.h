#pragma once
// TSimpSock: a minimal blocking TCP client for three short exchanges, each opening one
// connection and closing it again: the FTP address probe, one HTTP/1.0 page fetch and one
// status line to the manager's monitor port. Never throws; every operation returns a result
// code. Owned by the caller for one exchange, used by one thread at a time.

#include "platform/Clock.h"

#include <cstddef>
#include <string>

namespace pelorix {

class Deadline;
class TcpSocket;

class TSimpSock {
public:
    // Result codes shared by all operations.
    static constexpr int kOk = 0;
    static constexpr int kUnreachable = 1;   // connect failed or timed out
    static constexpr int kNoNetwork = 2;     // name did not resolve, no socket, unexpected error
    static constexpr int kBadParameters = 3; // Host shorter than 2 characters, or no path
    static constexpr int kTimedOut = 4;      // connected, but the answer did not end in time

    // Default time limits: a peer that never answers must not hold the caller forever.
    static constexpr int kDefaultConnectTimeoutMs = 20000;
    static constexpr int kDefaultReceiveTimeoutMs = 30000;
    // Besides the limit per receive, each exchange as a whole ends after this long, the name
    // look-up included.
    static constexpr int kDefaultHttpDeadlineMs = 60000;
    static constexpr int kDefaultPingDeadlineMs = 30000;
    // GetHTTP stops reading once the response holds this many bytes.
    static constexpr std::size_t kMaxResponseBytes = 1024 * 1024;

    // clock: the one the exchanges' deadlines run on.
    explicit TSimpSock(const IClock& clock = SystemClock::Instance()) : clock_(clock) {}

    // Connects to Host on FtpPort, reads the greeting, says QUIT when greeted; fills LocalIP.
    int PingFTP();
    // Fetches the path in Data from Host on HttpPort; Data becomes the whole response. A
    // response still coming in when HttpDeadlineMs is over counts as no answer: Data is
    // emptied and the result is kTimedOut.
    int GetHTTP();
    // Sends text unchanged to "localhost" on MonitorPort; nothing is read.
    int SendToMonitor(const std::string& text);

    std::string Host;
    int Port = 80;    // set by every operation before it connects
    std::string Data; // GetHTTP: the path before, the response after
    std::string LocalIP;

    // The ports the operations use; only tests change them.
    int FtpPort = 21;
    // FTPS and SFTP servers send no greeting in clear text: PingFTP then only connects.
    bool ExpectGreeting = true;
    int HttpPort = 80;
    int MonitorPort = 60123;

    int ConnectTimeoutMs = kDefaultConnectTimeoutMs;
    int ReceiveTimeoutMs = kDefaultReceiveTimeoutMs;
    int HttpDeadlineMs = kDefaultHttpDeadlineMs;
    int PingDeadlineMs = kDefaultPingDeadlineMs;

private:
    int Connect(TcpSocket& socket, const Deadline& deadline);
    int PingBody();
    int HttpBody();
    int MonitorBody(const std::string& text);

    const IClock& clock_;
};

} // namespace pelorix
