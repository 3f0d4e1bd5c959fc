// TSimpSock on the system's own ports (21, 80, 60123) and with a name that does not
// resolve; runs in a private network namespace with only loopback up.

#include "net/SimpSock.h"

#include "LoopbackPeer.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

using test::LoopbackPeer;

TEST(SimpSockNetTest, UnresolvableHostGivesTwo) {
    TSimpSock sock;
    sock.Host = "nohost.invalid";
    sock.Data = "/";
    EXPECT_EQ(sock.PingFTP(), TSimpSock::kNoNetwork);
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kNoNetwork);
}

TEST(SimpSockNetTest, OperationsUseTheirFixedPorts) {
    LoopbackPeer ftp([](int fd) { LoopbackPeer::SendAll(fd, "220 ok\r\n"); }, 21);
    LoopbackPeer http(
        [&http](int fd) {
            http.ReadUntil(fd, "\r\n\r\n");
            LoopbackPeer::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n1.2.3.4");
        },
        80);
    LoopbackPeer monitor([&monitor](int fd) { monitor.WaitForClose(fd, 2000); }, 60123);
    ASSERT_TRUE(ftp.Listening() && http.Listening() && monitor.Listening());

    TSimpSock sock;
    sock.Host = "localhost";
    EXPECT_EQ(sock.PingFTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Port, 21);
    EXPECT_EQ(sock.LocalIP, "127.0.0.1");

    sock.Data = "/ip";
    EXPECT_EQ(sock.GetHTTP(), TSimpSock::kOk);
    EXPECT_EQ(sock.Port, 80);
    EXPECT_EQ(sock.Data, "HTTP/1.0 200 OK\r\n\r\n1.2.3.4");
    EXPECT_EQ(http.Received(), "GET /ip HTTP/1.0\r\nHost: localhost\r\n\r\n");

    EXPECT_EQ(sock.SendToMonitor("+x\r\n"), TSimpSock::kOk);
    EXPECT_EQ(sock.Port, 60123);
}

TEST(SimpSockNetTest, MonitorSendWithoutManagerGivesOne) {
    TSimpSock sock;
    EXPECT_EQ(sock.SendToMonitor("+x\r\n"), TSimpSock::kUnreachable);
}

} // namespace
} // namespace pelorix
