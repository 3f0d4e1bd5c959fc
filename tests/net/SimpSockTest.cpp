// TSimpSock against scripted peers on 127.0.0.1: result codes, the bytes on the wire, the
// end-of-page test, time limits and the response cap.

#include "net/SimpSock.h"

#include "base/Latin1.h"

#include "LoopbackPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace pelorix {
namespace {

using test::LoopbackPeer;

constexpr int kShortLimitMs = 300;

long long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

TSimpSock SocketFor(const LoopbackPeer& peer) {
    TSimpSock sock;
    sock.Host = "127.0.0.1";
    sock.FtpPort = peer.Port();
    sock.HttpPort = peer.Port();
    sock.MonitorPort = peer.Port();
    sock.ConnectTimeoutMs = 2000;
    sock.ReceiveTimeoutMs = 5000;
    return sock;
}

TEST(SimpSockTest, ConstructorDefaults) {
    TSimpSock sock;
    EXPECT_EQ(sock.Port, 80);
    EXPECT_TRUE(sock.Host.empty());
    EXPECT_TRUE(sock.LocalIP.empty());
}

TEST(SimpSockTest, MissingHostOrPathGivesThreeWithoutConnecting) {
    LoopbackPeer peer([](int) {});
    TSimpSock sock = SocketFor(peer);
    for (const char* host : {"", "x"}) {
        sock.Host = host;
        sock.Data = "/";
        EXPECT_EQ(sock.PingFTP(), TSimpSock::kBadParameters) << host;
        EXPECT_EQ(sock.GetHTTP(), TSimpSock::kBadParameters) << host;
    }
    sock.Host = "127.0.0.1";
    sock.Data.clear();
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kBadParameters);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(peer.Accepted(), 0);
}

TEST(SimpSockTest, NothingListeningGivesOne) {
    TSimpSock sock;
    sock.Host = "127.0.0.1";
    sock.FtpPort = sock.HttpPort = test::UnusedLoopbackPort();
    sock.Data = "/";
    EXPECT_EQ(sock.PingFTP(), TSimpSock::kUnreachable);
    EXPECT_TRUE(sock.LocalIP.empty());
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kUnreachable);
}

TEST(SimpSockTest, PingFtpSaysQuitAfterTheGreetingAndReportsTheLocalEnd) {
    LoopbackPeer ftp([&ftp](int fd) {
        LoopbackPeer::SendAll(fd, "220 Willkommen\r\n");
        ftp.ReadUntil(fd, "\r\n");
        LoopbackPeer::SendAll(fd, "221 Auf Wiedersehen\r\n");
    });
    TSimpSock sock = SocketFor(ftp);
    sock.Port = 0;
    EXPECT_EQ(sock.PingFTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Port, ftp.Port());
    EXPECT_EQ(sock.LocalIP, "127.0.0.1");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ftp.Received(), "QUIT\r\n");
}

TEST(SimpSockTest, PingFtpWithoutGreetingSucceedsAndSendsNothing) {
    LoopbackPeer peer([](int) {}); // accepts and closes at once
    TSimpSock sock = SocketFor(peer);
    EXPECT_EQ(sock.PingFTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.LocalIP, "127.0.0.1");
    EXPECT_EQ(peer.Received(), "");
}

TEST(SimpSockTest, PingFtpAgainstASilentPeerEndsWithinTheTimeLimit) {
    LoopbackPeer peer([&peer](int fd) { peer.WaitForClose(fd); });
    TSimpSock sock = SocketFor(peer);
    sock.ReceiveTimeoutMs = kShortLimitMs;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.PingFTP(), TSimpSock::kOk);
    EXPECT_LT(ElapsedMs(start), 3000);
    EXPECT_EQ(peer.Received(), ""); // no greeting, so no QUIT either
}

TEST(SimpSockTest, GetHttpSendsTheRequestAndKeepsTheWholeResponse) {
    const std::string response =
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nREMOTE_ADDR = 84.123.45.6\n";
    LoopbackPeer peer([&](int fd) {
        peer.ReadUntil(fd, "\r\n\r\n");
        LoopbackPeer::SendAll(fd, response);
    });
    TSimpSock sock = SocketFor(peer);
    sock.Data = "/cgi-bin/test-cgi";
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Port, peer.Port());
    EXPECT_EQ(sock.Data, response);
    EXPECT_EQ(peer.Received(), "GET /cgi-bin/test-cgi HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
}

TEST(SimpSockTest, LowerCaseEndTagEndsTheReadWhileTheConnectionStaysOpen) {
    const std::string page = "HTTP/1.0 200 OK\r\n\r\n<html><body>84.1.2.3</body>\n</html>\n";
    LoopbackPeer peer([&](int fd) {
        peer.ReadUntil(fd, "\r\n\r\n");
        LoopbackPeer::SendAll(fd, page);
        peer.WaitForClose(fd, 10000);
    });
    TSimpSock sock = SocketFor(peer);
    sock.ReceiveTimeoutMs = 10000;
    sock.Data = "/";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(sock.Data, page);
}

TEST(SimpSockTest, EndTagSplitAcrossTwoChunksIsFound) {
    LoopbackPeer peer([&](int fd) {
        peer.ReadUntil(fd, "\r\n\r\n");
        LoopbackPeer::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n<BODY>x</BO");
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        LoopbackPeer::SendAll(fd, "dy>");
        peer.WaitForClose(fd, 10000);
    });
    TSimpSock sock = SocketFor(peer);
    sock.ReceiveTimeoutMs = 10000;
    sock.Data = "/";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_EQ(sock.Data, "HTTP/1.0 200 OK\r\n\r\n<BODY>x</BOdy>");
}

TEST(SimpSockTest, ErrorPageIsASuccess) {
    const std::string page = "HTTP/1.0 404 Not Found\r\n\r\n<HTML><BODY>Not Found</BODY></HTML>";
    LoopbackPeer peer([&](int fd) {
        peer.ReadUntil(fd, "\r\n\r\n");
        LoopbackPeer::SendAll(fd, page);
    });
    TSimpSock sock = SocketFor(peer);
    sock.Data = "/fehlt.htm";
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Data, page);
}

TEST(SimpSockTest, ServerClosingWithoutAnswerLeavesDataEmpty) {
    LoopbackPeer peer([&](int fd) { peer.ReadUntil(fd, "\r\n\r\n"); });
    TSimpSock sock = SocketFor(peer);
    sock.Data = "/";
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Data, "");
}

TEST(SimpSockTest, ZeroByteCutsItsChunk) {
    LoopbackPeer peer([&](int fd) {
        peer.ReadUntil(fd, "\r\n\r\n");
        LoopbackPeer::SendAll(fd, std::string("abc\0def", 7));
    });
    TSimpSock sock = SocketFor(peer);
    sock.Data = "/";
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Data, "abc");
}

TEST(SimpSockTest, SilentHttpPeerEndsWithinTheTimeLimit) {
    LoopbackPeer peer([&peer](int fd) { peer.WaitForClose(fd); });
    TSimpSock sock = SocketFor(peer);
    sock.ReceiveTimeoutMs = kShortLimitMs;
    sock.Data = "/";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_LT(ElapsedMs(start), 3000);
    EXPECT_EQ(sock.Data, "");
}

// A byte now and then never lets one receive time out; the exchange ends at its deadline.
TEST(SimpSockTest, TricklingPeerIsCutOffAtTheDeadlineOfTheWholeExchange) {
    LoopbackPeer peer([&peer](int fd) {
        peer.ReadUntil(fd, "\r\n\r\n");
        LoopbackPeer::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n1.2.3.4 ");
        for (int i = 0; i < 100 && !peer.Stopping() && LoopbackPeer::SendAll(fd, "x"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
    });
    TSimpSock sock = SocketFor(peer);
    sock.HttpDeadlineMs = kShortLimitMs;
    sock.Data = "/";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kTimedOut);
    EXPECT_LT(ElapsedMs(start), 1500);
    EXPECT_EQ(sock.Data, "") << "a half answer is no answer";

    LoopbackPeer ftp([&ftp](int fd) { ftp.WaitForClose(fd); });
    TSimpSock ping = SocketFor(ftp); // a receive limit of 5 s
    ping.PingDeadlineMs = kShortLimitMs;
    const auto pinged = std::chrono::steady_clock::now();
    EXPECT_EQ(ping.PingFTP(), TSimpSock::kOk) << "connected: the address is known";
    EXPECT_LT(ElapsedMs(pinged), 1500);
}

TEST(SimpSockTest, HugeResponseIsCappedAtOneMebibyte) {
    LoopbackPeer peer([&](int fd) {
        peer.ReadUntil(fd, "\r\n\r\n");
        const std::string block(64 * 1024, 'x');
        for (int i = 0; i < 80 && !peer.Stopping(); ++i) // 5 MiB
            if (!LoopbackPeer::SendAll(fd, block))
                break;
    });
    TSimpSock sock = SocketFor(peer);
    sock.ReceiveTimeoutMs = 2000;
    sock.Data = "/";
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Data.size(), TSimpSock::kMaxResponseBytes);
}

TEST(SimpSockTest, MonitorLineGoesOutUnchanged) {
    LoopbackPeer peer([&](int fd) { peer.WaitForClose(fd, 2000); });
    TSimpSock sock = SocketFor(peer);
    sock.Host = "anderer";
    const std::string line = "[12:00:00] +Seitengenerierung ausgeführt\r\n"_l1;
    EXPECT_EQ(sock.SendToMonitor(line), TSimpSock::kOk);
    EXPECT_EQ(sock.Host, "localhost");
    EXPECT_EQ(sock.Port, peer.Port());
    for (int i = 0; i < 100 && peer.Received().size() < line.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(peer.Received(), line);
}

TEST(SimpSockTest, MonitorWithoutListenerGivesOne) {
    TSimpSock sock;
    sock.MonitorPort = test::UnusedLoopbackPort();
    EXPECT_EQ(sock.SendToMonitor("x\r\n"), TSimpSock::kUnreachable);
    EXPECT_TRUE(sock.LocalIP.empty());
}

} // namespace
} // namespace pelorix
