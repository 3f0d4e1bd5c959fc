// libcurl is loaded for the first FTP connection and unloaded after the last one: uploads work
// on every load, a missing library is a general error, and the memory comes back.

#include "net/InternetSession.h"

#include "FtpTestServer.h"
#include "net/SimpFTP.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace pelorix;
using namespace pelorix::wininet;
using pelorix::test::FtpTestServer;
using pelorix::test::TempDir;

namespace {

// Whether the dynamic linker has libcurl mapped, whoever loaded it.
bool CurlMapped() {
    void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    ::dlclose(handle); // NOLOAD counted one more user
    return true;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

class InternetSessionReloadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Ready()) << server.Log(); }
    void TearDown() override { SetCurlLibraryFile({}); }

    std::unique_ptr<FtpConnection> Login(InternetSession& session, const char* password = "secret") {
        return session.ConnectFtp("127.0.0.1", static_cast<std::uint16_t>(server.Port()),
                                  FtpTestServer::kUser, password, kFlagPassive, 0);
    }

    // One connection in a fresh session that stores text as name.
    void UploadOnce(const std::string& name, const std::string& text) {
        local.Write(name, text);
        InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
        auto ftp = Login(session);
        ASSERT_TRUE(ftp) << LastError();
        EXPECT_TRUE(CurlLibraryLoaded());
        ASSERT_TRUE(ftp->PutFile(local.File(name), name, kTransferTypeBinary, 0));
    }

    FtpTestServer server;
    TempDir local;
};

TEST_F(InternetSessionReloadTest, LoadedForTheConnectionsAndUnloadedAfterTheLast) {
    EXPECT_FALSE(CurlLibraryLoaded());
    EXPECT_FALSE(CurlMapped()) << "nothing links libcurl";
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE(round);
        const std::string name = "round" + std::to_string(round) + ".htm";
        InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
        auto first = Login(session);
        ASSERT_TRUE(first);
        auto second = Login(session);
        ASSERT_TRUE(second);
        EXPECT_TRUE(CurlMapped());
        local.Write(name, "<p>" + name + "</p>");
        ASSERT_TRUE(first->PutFile(local.File(name), name, kTransferTypeBinary, 0));
        first.reset();
        EXPECT_TRUE(CurlLibraryLoaded()) << "the second connection still uses it";
        ASSERT_TRUE(second->PutFile(local.File(name), "copy-" + name, kTransferTypeBinary, 0));
        second.reset();
        EXPECT_FALSE(CurlLibraryLoaded());
        EXPECT_FALSE(CurlMapped());
        EXPECT_EQ(server.Root().Read(name), "<p>" + name + "</p>");
        EXPECT_EQ(server.Root().Read("copy-" + name), "<p>" + name + "</p>");
    }
}

TEST_F(InternetSessionReloadTest, SessionConnectsAgainAfterTheLibraryWasUnloaded) {
    InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
    ASSERT_TRUE(session.SetOption(kOptionConnectRetries, 1));
    local.Write("a.htm", "a");
    for (const char* name : {"one.htm", "two.htm"}) {
        auto ftp = Login(session);
        ASSERT_TRUE(ftp);
        ASSERT_TRUE(ftp->ChangeDirectory("/"));
        ASSERT_TRUE(ftp->PutFile(local.File("a.htm"), name, kTransferTypeAscii, 0));
        ftp.reset();
        EXPECT_FALSE(CurlLibraryLoaded());
    }
    EXPECT_EQ(server.Root().Read("two.htm"), "a");
}

TEST_F(InternetSessionReloadTest, FailedLoginLetsTheLibraryGo) {
    InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
    EXPECT_FALSE(Login(session, "wrong"));
    EXPECT_EQ(LastError(), kErrorInternetIncorrectPassword);
    EXPECT_FALSE(CurlLibraryLoaded());
    EXPECT_FALSE(CurlMapped());
}

TEST_F(InternetSessionReloadTest, MissingLibraryIsAGeneralErrorWithItsReason) {
    SetCurlLibraryFile("libcurl-pelorix-missing.so.4");
    InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
    EXPECT_FALSE(Login(session));
    EXPECT_EQ(LastError(), kErrorInternetInternalError);
    std::uint32_t code = 0;
    std::string reason;
    ASSERT_TRUE(GetLastResponseInfo(code, reason));
    EXPECT_EQ(code, kErrorInternetInternalError);
    EXPECT_NE(reason.find("libcurl-pelorix-missing.so.4"), std::string::npos) << reason;
    EXPECT_FALSE(CurlLibraryLoaded());

    TSimpleFTP ftp;
    ftp.HostName = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.UserName = FtpTestServer::kUser;
    ftp.Password = FtpTestServer::kPassword;
    ftp.SilentExceptions = false;
    try {
        ftp.Connect();
        ADD_FAILURE() << "connected without libcurl";
    } catch (const EWinInetError& e) {
        EXPECT_STREQ(e.what(), "Internal WININET error");
    }

    SetCurlLibraryFile({});
    UploadOnce("after.htm", "back");
    EXPECT_EQ(server.Root().Read("after.htm"), "back");
}

TEST_F(InternetSessionReloadTest, MemoryComesBackAfterEveryUpload) {
    // libcrypto stays mapped after the unload (it forbids being unloaded); what it would keep
    // resident is given back, so uploads must not leave megabytes behind, nor the second one.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's allocator keeps freed memory on purpose";
#endif
    const long before = ResidentKiB();
    ASSERT_GT(before, 0);
    UploadOnce("page.htm", std::string(100000, 'x'));
    EXPECT_FALSE(CurlLibraryLoaded());
    const long afterFirst = ResidentKiB();
    EXPECT_LT(afterFirst - before, 1536) << "before " << before << " KiB, after " << afterFirst << " KiB";
    UploadOnce("page.htm", std::string(100000, 'y'));
    const long afterSecond = ResidentKiB();
    EXPECT_LT(afterSecond - afterFirst, 512)
        << "after the first " << afterFirst << " KiB, after the second " << afterSecond << " KiB";
}

} // namespace
