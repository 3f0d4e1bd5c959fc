#include "net/SimpFTP.h"

#include "FtpTestServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace pelorix;
using pelorix::test::FtpTestServer;
using pelorix::test::TempDir;

namespace {

class Bar : public TQuickProgressBar {
public:
    void SetMax(int value) override { max = value; }
    void SetPosition(int value) override { position = value; }
    int max = -1;
    int position = -1;
};

class Label : public TQuickLabel {
public:
    void SetCaption(const std::string& text) override { caption = text; }
    std::string caption;
};

TEST(SimpleFTP, DefaultsAndTrailingSlash) {
    TSimpleFTP ftp;
    EXPECT_EQ(ftp.Port, 21);
    EXPECT_EQ(ftp.TransferType(), ttBinary);
    EXPECT_EQ(ftp.FileSystemType(), ftUnix);
    EXPECT_FALSE(ftp.Passive());
    EXPECT_FALSE(ftp.QuickProgress);
    EXPECT_FALSE(ftp.FailIfExistsOnGet);
    EXPECT_TRUE(ftp.WelcomeText().empty());
    EXPECT_TRUE(ftp.SilentExceptions);

    EXPECT_EQ(StripTrailingSlash("/"), "/");
    EXPECT_EQ(StripTrailingSlash("/web/"), "/web");
    EXPECT_EQ(StripTrailingSlash("web\\"), "web");
    EXPECT_EQ(StripTrailingSlash("//"), "/");
    EXPECT_EQ(StripTrailingSlash("/web//"), "/web/");
    EXPECT_EQ(StripTrailingSlash(""), "");
    EXPECT_EQ(StripTrailingSlash("\\"), "\\");
}

TEST(SimpleFTP, ProgressArithmeticAndDisplays) {
    TempDir local;
    local.Write("page.htm", std::string(8, 'x'));
    TSimpleFTP ftp;
    // Not connected and silent: the progress is set up, nothing is sent.
    EXPECT_FALSE(ftp.PutFile(local.File("page.htm"), "page.htm"));
    EXPECT_EQ(ftp.Progress().BytesTotal, 8);
    EXPECT_EQ(ftp.Progress().BytesDone, 0);
    EXPECT_EQ(ftp.Progress().FileName, "page.htm");

    Bar minor, major;
    Label minorLabel, majorLabel;
    ftp.QuickProgress = true;
    ftp.QuickProgressMinor = &minor;
    ftp.QuickProgressMajor = &major;
    ftp.QuickLabelMinor = &minorLabel;
    ftp.QuickLabelMajor = &majorLabel;
    std::vector<int> seen;
    ftp.OnTransferProgress = [&](TSimpleFTP&, const TFTPProgressInfo& p) { seen.push_back(p.BytesDone); };
    int pumped = 0;
    ftp.ProcessMessages = [&] { ++pumped; };

    const std::uint32_t one = 1, two = 2, zero = 0, many = 100;
    ftp.StatusCallback(31, &one, 4);
    EXPECT_EQ(minor.position, 12) << "12.5 rounds to even";
    ftp.StatusCallback(41, &two, 4);
    EXPECT_EQ(minor.position, 38) << "37.5 rounds to even";
    EXPECT_EQ(minor.max, 100);
    ftp.StatusCallback(31, &zero, 4);
    EXPECT_EQ(ftp.Progress().BytesDone, 8) << "a zero count means done";
    ftp.StatusCallback(31, &one, 4);
    ftp.StatusCallback(31, &many, 4);
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 8, 8, 8}));
    EXPECT_EQ(minor.position, 100);
    EXPECT_EQ(major.max, 0);
    EXPECT_EQ(major.position, 0);
    EXPECT_EQ(minorLabel.caption, "page.htm");
    EXPECT_TRUE(majorLabel.caption.empty()) << "no file count";

    ftp.StatusCallback(60, nullptr, 0);
    EXPECT_EQ(seen.size(), 5u);
    EXPECT_EQ(pumped, 6) << "every notification lets the host breathe";
}

TEST(SimpleFTP, NoConnectionFailures) {
    TempDir local;
    local.Write("page.htm", "x");
    TSimpleFTP ftp;
    EXPECT_THROW(ftp.PutFile(local.File("missing.htm"), "m.htm"), EFOpenError);
    try {
        ftp.PutFile(local.File("missing.htm"), "m.htm");
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file \"" + local.File("missing.htm") + "\". No such file or directory");
    }

    ftp.SilentExceptions = false;
    try {
        ftp.PutFile(local.File("page.htm"), "page.htm");
        ADD_FAILURE();
    } catch (const ESimpleFTPError& e) {
        EXPECT_STREQ(e.what(), "Not connected!");
    }
    ftp.SetFileSystemType(ftUnknown);
    EXPECT_EQ(ftp.FileSystemType(), ftUnknown) << "stored while not connected";
}

class SimpleFTPServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << server.Log();
        std::filesystem::create_directories(server.Root().File("web/ip"));
        ftp.HostName = "127.0.0.1";
        ftp.Port = server.Port();
        ftp.UserName = FtpTestServer::kUser;
        ftp.Password = FtpTestServer::kPassword;
        ftp.SetPassive(true);
    }

    FtpTestServer server;
    TempDir local;
    TSimpleFTP ftp;
};

TEST_F(SimpleFTPServerTest, LoginFollowsTheStatesAndKeepsTheWelcome) {
    std::vector<TWinInetState> states;
    ftp.OnStateChange = [&](TWinInetControl&, TWinInetState s) { states.push_back(s); };
    int connected = 0;
    ftp.OnConnected = [&](TWinInetControl&) { ++connected; };
    ftp.Password = "wrong";
    ftp.OnLogin = [](TSimpleFTP&, std::string&, std::string& password) {
        password = FtpTestServer::kPassword;
    };
    ASSERT_TRUE(ftp.Connect());
    EXPECT_EQ(ftp.State(), 3);
    EXPECT_EQ(states, (std::vector<TWinInetState>{4, 5, 2, 3}));
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(ftp.WelcomeText().rfind("230 ", 0), 0u) << ftp.WelcomeText();
    EXPECT_TRUE(ftp.Connect()) << "already connected";

    states.clear();
    EXPECT_TRUE(ftp.Disconnect());
    EXPECT_EQ(states, (std::vector<TWinInetState>{0, 1}));
    EXPECT_EQ(ftp.State(), 1);
}

TEST_F(SimpleFTPServerTest, WrongPasswordFailsQuietlyOrWithItsText) {
    ftp.Password = "wrong";
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.State(), 1);

    ftp.SilentExceptions = false;
    try {
        ftp.Connect();
        ADD_FAILURE();
    } catch (const EWinInetError& e) {
        EXPECT_STREQ(e.what(), "Bad password connecting to 127.0.0.1");
    }
    EXPECT_EQ(ftp.State(), 1);

    ftp.Port = pelorix::test::FreeLoopbackPort();
    try {
        ftp.Connect();
        ADD_FAILURE();
    } catch (const EWinInetError& e) {
        EXPECT_STREQ(e.what(), "Unable to connect to 127.0.0.1");
    }
}

TEST_F(SimpleFTPServerTest, ChangeDirSendsTheDirectoryWithoutItsTrailingSlash) {
    int changes = 0;
    ftp.OnDirectoryChange = [&](TWinInetControl&) { ++changes; };
    ASSERT_TRUE(ftp.Connect());
    ASSERT_TRUE(ftp.ChangeDir("/"));
    EXPECT_NE(server.Log().find("<- CWD /\n"), std::string::npos);
    EXPECT_EQ(ftp.RemoteDir(), "/");
    ASSERT_TRUE(ftp.ChangeDir("/web/"));
    EXPECT_NE(server.Log().find("<- CWD /web\n"), std::string::npos);
    EXPECT_EQ(ftp.RemoteDir(), "/web") << "the server's answer";
    EXPECT_EQ(changes, 2);

    EXPECT_FALSE(ftp.ChangeDir("/nope/"));
    EXPECT_EQ(ftp.RemoteDir(), "/web");
    EXPECT_EQ(changes, 2);
    ftp.SilentExceptions = false;
    try {
        ftp.ChangeDir("/nope/");
        ADD_FAILURE();
    } catch (const ESimpleFTPError& e) {
        EXPECT_STREQ(e.what(), "Couldn't change to directory /nope/");
    }
    ftp.Disconnect();
    EXPECT_EQ(ftp.RemoteDir(), "/web/") << "remembered as it was passed";
}

TEST_F(SimpleFTPServerTest, FileSystemTypeIsFixedWhileConnected) {
    ASSERT_TRUE(ftp.Connect());
    ftp.SetFileSystemType(ftUnknown);
    EXPECT_EQ(ftp.FileSystemType(), ftUnix);
    ftp.SilentExceptions = false;
    EXPECT_THROW(ftp.SetFileSystemType(ftUnknown), ESimpleFTPError);
    ftp.SilentExceptions = true;
    ftp.Disconnect();
    ftp.SetFileSystemType(ftUnknown);
    ASSERT_TRUE(ftp.Connect());
    ftp.SilentExceptions = false;
    EXPECT_FALSE(ftp.ChangeDir("/nope")) << "an unknown file system raises nothing";
}

TEST_F(SimpleFTPServerTest, DirectoryGivenBeforeConnectIsEnteredAfterLogin) {
    EXPECT_TRUE(ftp.ChangeDir("/web/ip/"));
    EXPECT_EQ(ftp.RemoteDir(), "/web/ip/");
    ASSERT_TRUE(ftp.Connect());
    EXPECT_EQ(ftp.RemoteDir(), "/web/ip");
    local.Write("index.htm", "<p>1.2.3.4</p>");
    ASSERT_TRUE(ftp.PutFile(local.File("index.htm"), "index.htm"));
    EXPECT_EQ(server.Root().Read("web/ip/index.htm"), "<p>1.2.3.4</p>");
}

TEST_F(SimpleFTPServerTest, UploadsInBothModesWithProgress) {
    std::string data(150000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 13 % 251);
    local.Write("page.bin", data);
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive);
        TSimpleFTP client;
        client.HostName = "127.0.0.1";
        client.Port = server.Port();
        client.UserName = FtpTestServer::kUser;
        client.Password = FtpTestServer::kPassword;
        client.SetPassive(passive);
        std::vector<TFTPProgressInfo> progress;
        client.OnTransferProgress = [&](TSimpleFTP&, const TFTPProgressInfo& p) { progress.push_back(p); };
        ASSERT_TRUE(client.Connect());
        ASSERT_TRUE(client.ChangeDir("/web"));
        ASSERT_TRUE(client.PutFile(local.File("page.bin"), "page.htm"));
        EXPECT_EQ(server.Root().Read("web/page.htm"), data);
        ASSERT_GT(progress.size(), 2u);
        for (std::size_t i = 1; i < progress.size(); ++i)
            EXPECT_GE(progress[i].BytesDone, progress[i - 1].BytesDone);
        EXPECT_EQ(progress.back().BytesDone, 150000);
        EXPECT_EQ(progress.back().BytesTotal, 150000);
        EXPECT_EQ(progress.back().FileName, "page.bin");
        EXPECT_EQ(progress.back().FileIndex, 0);
        EXPECT_EQ(progress.back().FileCount, 0);
        EXPECT_TRUE(client.Disconnect());
    }
}

TEST_F(SimpleFTPServerTest, MissingLocalFileWhileConnected) {
    ASSERT_TRUE(ftp.Connect());
    EXPECT_THROW(ftp.PutFile(local.File("gone.htm"), "gone.htm"), EFOpenError);
    ftp.SilentExceptions = false;
    try {
        ftp.PutFile(local.File("gone.htm"), "gone.htm");
        ADD_FAILURE();
    } catch (const ESimpleFTPError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error putting " + local.File("gone.htm") + " to gone.htm: local file not found");
    }
    // A store the server refuses: a directory of that name is in the way.
    local.Write("web", "x");
    try {
        ftp.PutFile(local.File("web"), "web");
        ADD_FAILURE();
    } catch (const ESimpleFTPError& e) {
        EXPECT_EQ(std::string(e.what()), "Error putting " + local.File("web") + " to web");
    }
    EXPECT_EQ(ftp.State(), 3) << "the connection survives a refused store";
}

TEST_F(SimpleFTPServerTest, DestructionWhileConnectedFiresNothing) {
    int changes = 0;
    {
        TSimpleFTP client;
        client.HostName = "127.0.0.1";
        client.Port = server.Port();
        client.UserName = FtpTestServer::kUser;
        client.Password = FtpTestServer::kPassword;
        ASSERT_TRUE(client.Connect());
        client.OnStateChange = [&](TWinInetControl&, TWinInetState) { ++changes; };
    }
    EXPECT_EQ(changes, 0);
}

} // namespace
