#include "net/InternetSession.h"

#include "net/FailureCause.h"

#include "../net/LoopbackPeer.h"
#include "FtpTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

using namespace pelorix;
using namespace pelorix::wininet;
using pelorix::test::FtpTestServer;
using pelorix::test::LoopbackPeer;
using pelorix::test::TempDir;

namespace {

struct Notification {
    std::uintptr_t context;
    std::uint32_t status;
    std::string text;
    std::uint32_t count;
};

std::vector<Notification> gSeen;

void Record(std::uintptr_t context, std::uint32_t status, const void* info, std::uint32_t length) {
    Notification n{context, status, {}, 0};
    if (status == kStatusRequestSent || status == kStatusResponseReceived) {
        EXPECT_EQ(length, 4u);
        std::memcpy(&n.count, info, sizeof n.count);
    } else if (info) {
        n.text.assign(static_cast<const char*>(info), length);
    }
    gSeen.push_back(n);
}

std::vector<std::uint32_t> StateStatuses() {
    std::vector<std::uint32_t> out;
    for (const auto& n : gSeen)
        if (n.status != kStatusRequestSent && n.status != kStatusResponseReceived)
            out.push_back(n.status);
    return out;
}

std::string AllBytes(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return data;
}

class InternetSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        gSeen.clear();
        ASSERT_TRUE(server.Ready()) << server.Log();
        std::filesystem::create_directories(server.Root().File("web/ip"));
    }

    std::unique_ptr<FtpConnection> Login(std::uint32_t flags = kFlagPassive,
                                         const char* password = "secret") {
        return session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(server.Port()),
                                  FtpTestServer::kUser, password, flags, 7);
    }

    FtpTestServer server;
    InternetSession session{"Pelorix", kOpenTypeDirect, {}, {}, 0};
    TempDir local;
};

TEST_F(InternetSessionTest, LoginReportsStatesAndKeepsTheWelcome) {
    session.SetStatusCallback(&Record);
    auto ftp = Login();
    ASSERT_TRUE(ftp);
    const std::vector<std::uint32_t> expected{kStatusResolvingName, kStatusNameResolved,
                                              kStatusConnectingToServer, kStatusConnectedToServer};
    EXPECT_EQ(StateStatuses(), expected);
    EXPECT_EQ(gSeen.front().text, "127.0.0.1");
    for (const auto& n : gSeen)
        EXPECT_EQ(n.context, 7u);

    std::uint32_t code = 0;
    std::string welcome;
    ASSERT_TRUE(GetLastResponseInfo(code, welcome));
    EXPECT_EQ(code, 230u);
    EXPECT_EQ(welcome.rfind("230 ", 0), 0u) << welcome;
    EXPECT_EQ(welcome.substr(welcome.size() - 2), "\r\n");

    gSeen.clear();
    ftp.reset(); // InternetCloseHandle logs out
    const std::vector<std::uint32_t> closed{kStatusClosingConnection, kStatusConnectionClosed};
    EXPECT_EQ(StateStatuses(), closed);
}

TEST_F(InternetSessionTest, WrongPasswordAndRefusedConnectionGiveTheirNumbers) {
    EXPECT_FALSE(Login(kFlagPassive, "wrong"));
    EXPECT_EQ(LastError(), kErrorInternetIncorrectPassword);
    std::uint32_t code = 0;
    std::string reply;
    GetLastResponseInfo(code, reply);
    EXPECT_EQ(code, 530u);

    const int nobody = pelorix::test::UnusedLoopbackPort();
    EXPECT_FALSE(session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(nobody), "u", "p", 0, 0));
    EXPECT_EQ(LastError(), kErrorInternetCannotConnect);

    EXPECT_FALSE(session.ConnectFtp("bad host/name", 21, "u", "p", 0, 0));
    EXPECT_EQ(LastError(), kErrorInternetNameNotResolved);
}

TEST_F(InternetSessionTest, DirectoriesAreTheServers) {
    auto ftp = Login();
    ASSERT_TRUE(ftp);
    std::string dir;
    ASSERT_TRUE(ftp->QueryCurrentDirectory(dir));
    EXPECT_EQ(dir, "/");

    ASSERT_TRUE(ftp->ChangeDirectory("/web/ip"));
    EXPECT_NE(server.Log().find("<- CWD /web/ip\n"), std::string::npos) << "one change to the whole path";
    ASSERT_TRUE(ftp->QueryCurrentDirectory(dir));
    EXPECT_EQ(dir, "/web/ip");

    EXPECT_FALSE(ftp->ChangeDirectory("/web/missing"));
    EXPECT_EQ(LastError(), kErrorInternetExtendedError);
    std::uint32_t code = 0;
    std::string reply;
    GetLastResponseInfo(code, reply);
    EXPECT_EQ(code, 550u);
    ASSERT_TRUE(ftp->QueryCurrentDirectory(dir));
    EXPECT_EQ(dir, "/web/ip") << "a failed change keeps the directory";

    ASSERT_TRUE(ftp->ChangeDirectory(".."));
    ASSERT_TRUE(ftp->QueryCurrentDirectory(dir));
    EXPECT_EQ(dir, "/web");
    ASSERT_TRUE(ftp->ChangeDirectory("/"));
    ASSERT_TRUE(ftp->QueryCurrentDirectory(dir));
    EXPECT_EQ(dir, "/");
}

TEST_F(InternetSessionTest, UploadsByteIdenticalInPassiveAndActiveMode) {
    const std::string data = AllBytes(300000);
    local.Write("page.bin", data);
    for (const std::uint32_t flags : {kFlagPassive, 0u}) {
        SCOPED_TRACE(flags);
        session.SetStatusCallback(&Record);
        auto ftp = Login(flags);
        ASSERT_TRUE(ftp);
        ASSERT_TRUE(ftp->ChangeDirectory("/web/ip"));
        std::filesystem::remove(server.Root().File("web/ip/index.htm"));
        gSeen.clear();
        ASSERT_TRUE(ftp->PutFile(local.File("page.bin"), "index.htm", kTransferTypeBinary, 99));
        EXPECT_EQ(server.Root().Read("web/ip/index.htm"), data);

        std::uint64_t sent = 0;
        for (const auto& n : gSeen) {
            EXPECT_EQ(n.context, 99u);
            if (n.status == kStatusRequestSent)
                sent += n.count;
        }
        EXPECT_GE(sent, data.size());
        EXPECT_TRUE(StateStatuses().empty()) << "the data connection is not announced";
        EXPECT_NE(server.Log().find(flags ? "<- PASV" : "<- PORT 127,0,0,1,"), std::string::npos);
    }
}

TEST_F(InternetSessionTest, KeepsOneControlConnectionAcrossCalls) {
    session.SetStatusCallback(&Record);
    local.Write("a.htm", "<p>a</p>");
    auto ftp = Login();
    ASSERT_TRUE(ftp);
    ASSERT_TRUE(ftp->ChangeDirectory("/web"));
    ASSERT_TRUE(ftp->PutFile(local.File("a.htm"), "a.htm", kTransferTypeBinary, 7));
    ASSERT_TRUE(ftp->PutFile(local.File("a.htm"), "b.htm", kTransferTypeBinary, 7));
    std::string dir;
    ASSERT_TRUE(ftp->QueryCurrentDirectory(dir));
    int connects = 0;
    for (const auto& n : gSeen)
        connects += n.status == kStatusConnectedToServer;
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(server.Root().Read("web/b.htm"), "<p>a</p>");
}

TEST_F(InternetSessionTest, TransferTypeIsSetPerUpload) {
    local.Write("page.htm", "<html>\r\n</html>\r\n");
    auto ftp = Login();
    ASSERT_TRUE(ftp);
    ASSERT_TRUE(ftp->PutFile(local.File("page.htm"), "a.htm", kTransferTypeAscii, 0));
    ASSERT_TRUE(ftp->PutFile(local.File("page.htm"), "b.htm", kTransferTypeBinary, 0));
    ftp.reset();
    const std::string log = server.Log();
    const auto ascii = log.find("<- TYPE A");
    const auto binary = log.find("<- TYPE I");
    ASSERT_NE(ascii, std::string::npos) << log;
    ASSERT_NE(binary, std::string::npos) << log;
    EXPECT_LT(ascii, log.find("<- STOR a.htm"));
    EXPECT_LT(log.find("<- STOR a.htm"), binary);
    EXPECT_LT(binary, log.find("<- STOR b.htm"));
    EXPECT_EQ(server.Root().Read("b.htm"), "<html>\r\n</html>\r\n");
}

TEST_F(InternetSessionTest, MissingLocalFileFailsWithoutTransfer) {
    auto ftp = Login();
    ASSERT_TRUE(ftp);
    EXPECT_FALSE(ftp->PutFile(local.File("nothing.htm"), "nothing.htm", kTransferTypeBinary, 0));
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    EXPECT_FALSE(server.Root().Exists("nothing.htm"));
}

TEST_F(InternetSessionTest, LineBreaksInNamesAreNeverSent) {
    local.Write("a.htm", "a");
    server.Root().Write("keep.htm", "keep");
    auto ftp = Login();
    ASSERT_TRUE(ftp);
    EXPECT_FALSE(ftp->PutFile(local.File("a.htm"), "a.htm\r\nDELE keep.htm", kTransferTypeBinary, 0));
    EXPECT_EQ(LastError(), kErrorInvalidParameter);
    EXPECT_FALSE(ftp->ChangeDirectory("/web\r\nRMD /web/ip"));
    EXPECT_TRUE(server.Root().Exists("keep.htm"));
    EXPECT_TRUE(server.Root().Exists("web/ip"));
    std::string dir;
    EXPECT_TRUE(ftp->QueryCurrentDirectory(dir)) << "the connection is still usable";
}

TEST(InternetSessionPassive, IgnoresTheAddressOfThePasvReply) {
    // The server announces a wrong loopback address; the client must use the control peer's.
    FtpTestServer server(0, "127.0.0.2");
    ASSERT_TRUE(server.Ready());
    TempDir local;
    local.Write("x.htm", "x");
    InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
    auto ftp = session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(server.Port()),
                                  FtpTestServer::kUser, FtpTestServer::kPassword, kFlagPassive, 0);
    ASSERT_TRUE(ftp);
    ASSERT_TRUE(ftp->PutFile(local.File("x.htm"), "x.htm", kTransferTypeBinary, 0));
    EXPECT_EQ(server.Root().Read("x.htm"), "x");
}

// A scripted FTP peer: greets, answers the commands it knows, stays silent on the others
// until the client goes away.
void ServeScript(LoopbackPeer& peer, int fd, const std::map<std::string, std::string>& replies) {
    LoopbackPeer::SendAll(fd, "220 scripted\r\n");
    for (;;) {
        const std::string line = peer.ReadUntil(fd, "\r\n", 5000);
        if (line.empty())
            return;
        const auto reply = replies.find(line.substr(0, line.find_first_of(" \r")));
        if (reply != replies.end())
            LoopbackPeer::SendAll(fd, reply->second);
    }
}

TEST(InternetSessionScripted, RefusedUserNameGivesItsOwnNumber) {
    LoopbackPeer peer([&peer](int fd) { ServeScript(peer, fd, {{"USER", "530 No such user\r\n"}}); });
    InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
    EXPECT_FALSE(
        session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(peer.Port()), "nobody", "pw", 0, 0));
    EXPECT_EQ(LastError(), kErrorInternetIncorrectUserName);
}

// Names beyond ASCII: in UTF-8 after OPTS UTF8 ON where FEAT announces UTF8, else Latin-1.
TEST(InternetSessionScripted, NamesGoInUtf8OnlyWhereTheServerAnnouncesIt) {
    for (const bool utf8 : {true, false}) {
        const std::string features =
            utf8 ? "211-Features:\r\n SIZE\r\n UTF8\r\n211 End\r\n" : "211-Features:\r\n SIZE\r\n211 End\r\n";
        LoopbackPeer peer([&](int fd) {
            ServeScript(peer, fd,
                        {{"USER", "331 Password\r\n"},
                         {"PASS", "230 In\r\n"},
                         {"PWD", "257 \"/\"\r\n"},
                         {"FEAT", features},
                         {"OPTS", "200 Always in UTF8 mode.\r\n"},
                         {"CWD", "250 Ok\r\n"},
                         {"QUIT", "221 Bye\r\n"}});
        });
        InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
        auto ftp = session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(peer.Port()), "u", "p", 0, 0);
        ASSERT_TRUE(ftp);
        ASSERT_TRUE(ftp->ChangeDirectory("/\xDC"
                                         "ber"));
        ftp.reset();
        const std::string sent = peer.Received();
        EXPECT_NE(sent.find(utf8 ? "CWD /\xC3\x9C"
                                   "ber\r\n"
                                 : "CWD /\xDC"
                                   "ber\r\n"),
                  std::string::npos)
            << sent;
        EXPECT_EQ(sent.find("OPTS UTF8 ON\r\n") != std::string::npos, utf8) << sent;
        EXPECT_LT(sent.find("FEAT\r\n"), sent.find("CWD")) << sent;
    }
}

TEST(InternetSessionScripted, SilentServerIsGivenUp) {
    // Logs in, then never answers the PWD that follows the login.
    LoopbackPeer peer([&peer](int fd) {
        ServeScript(peer, fd, {{"USER", "331 Password\r\n"}, {"PASS", "230 In\r\n"}});
    });
    InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
    ASSERT_TRUE(session.SetOption(kOptionDataSendTimeout, 300));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(
        session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(peer.Port()), "user", "pw", 0, 0));
    EXPECT_EQ(LastError(), kErrorInternetTimeout);
    EXPECT_EQ(FailureCause(LastError(), LastFailureReason()), TimeoutCauseText()) << LastFailureReason();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

} // namespace

namespace {

// A server that accepts and then never speaks holds neither the TLS nor the SSH handshake past
// the connect limit, however long a transfer may stall.
TEST(InternetSessionScripted, StalledHandshakeEndsAtTheConnectLimit) {
    for (const ConnectionMode mode : {ConnectionMode::ImplicitTls, ConnectionMode::Sftp}) {
        LoopbackPeer peer([&peer](int fd) { peer.WaitForClose(fd); });
        InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
        ASSERT_TRUE(session.SetOption(kOptionConnectTimeout, 300));
        ASSERT_TRUE(session.SetOption(kOptionDataSendTimeout, 30000));
        session.SetSecurity(mode, {});
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(
            session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(peer.Port()), "user", "pw", 0, 0));
        if (LastError() == kErrorNotSupported)
            continue; // no such connection type on this system
        EXPECT_EQ(LastError(), kErrorInternetTimeout) << static_cast<int>(mode);
        EXPECT_EQ(FailureCause(LastError(), LastFailureReason()), TimeoutCauseText()) << LastFailureReason();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    }
}

} // namespace
