// The split of the remote path and the page upload shared by the worker and the manager,
// against a real FTP server on an ephemeral loopback port.

#include "svc/PageUpload.h"

#include "FtpTestServer.h"
#include "base/Latin1.h"
#include "net/InternetSession.h"
#include "net/SimpFTP.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pelorix {
namespace {

using test::FtpTestServer;
using test::TempDir;

TEST(SplitRemotePath, DirectoryAndFileName) {
    struct Case {
        std::string site, directory, file;
    };
    const std::vector<Case> cases{{"/myserver.htm", "/", "myserver.htm"},
                                  {"/web/ip/index.htm", "/web/ip", "index.htm"},
                                  {"web/index.htm", "web", "index.htm"},
                                  {"index.htm", "", "index.htm"},
                                  {"", "", ""},
                                  {"/web/", "/web", ""},
                                  {"/", "/", ""},
                                  {"//x.htm", "/", "x.htm"},
                                  {"a//b.htm", "a/", "b.htm"}};
    for (const auto& c : cases) {
        const RemotePath path = SplitRemotePath(c.site);
        EXPECT_EQ(path.Directory, c.directory) << c.site;
        EXPECT_EQ(path.FileName, c.file) << c.site;
    }
}

class PageUploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Ready()) << server.Log();
        std::filesystem::create_directories(server.Root().File("web/ip"));
        local.Write("PelorTmp.htm", "<p>84.1.2.3</p>\r\n");
        params.Host = "127.0.0.1";
        params.User = FtpTestServer::kUser;
        params.Password = FtpTestServer::kPassword;
        params.LocalFile = local.File("PelorTmp.htm");
        params.Prepare = [this](TSimpleFTP& ftp) {
            ftp.Port = server.Port();
            ++prepared;
        };
    }

    FtpTestServer server;
    TempDir local;
    PageUploadParams params;
    int prepared = 0;
};

TEST_F(PageUploadTest, StoresUnderTheRemotePath) {
    params.RemoteSite = "/myserver.htm";
    PageUploadResult result = UploadPageFile(params);
    EXPECT_EQ(result.Outcome, PageUploadOutcome::Uploaded);
    EXPECT_EQ(result.StoredAs, "/myserver.htm");
    EXPECT_EQ(server.Root().Read("myserver.htm"), "<p>84.1.2.3</p>\r\n");

    params.RemoteSite = "/web/ip/index.htm";
    params.Passive = true;
    result = UploadPageFile(params);
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.StoredAs, "/web/ip/index.htm");
    EXPECT_EQ(server.Root().Read("web/ip/index.htm"), "<p>84.1.2.3</p>\r\n");

    params.RemoteSite = "web/index.htm"; // below the login directory
    result = UploadPageFile(params);
    EXPECT_EQ(result.StoredAs, "web/index.htm");
    EXPECT_TRUE(server.Root().Exists("web/index.htm"));

    std::filesystem::create_directories(server.Root().File("a"));
    params.RemoteSite = "a/page.htm"; // a one-character directory is still a directory
    EXPECT_EQ(UploadPageFile(params).StoredAs, "a/page.htm");
    EXPECT_EQ(prepared, 4);
}

TEST_F(PageUploadTest, MissingDirectorySendsTheFileToTheLoginDirectory) {
    params.RemoteSite = "/nowhere/page.htm";
    const PageUploadResult result = UploadPageFile(params);
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.StoredAs, "page.htm");
    EXPECT_TRUE(server.Root().Exists("page.htm"));
}

TEST_F(PageUploadTest, Failures) {
    params.RemoteSite = "/myserver.htm";
    params.Password = "wrong";
    EXPECT_EQ(UploadPageFile(params).Outcome, PageUploadOutcome::LoginFailed);

    params.Password = FtpTestServer::kPassword;
    params.RemoteSite = "";
    EXPECT_EQ(UploadPageFile(params).Outcome, PageUploadOutcome::NoFileName);
    EXPECT_EQ(prepared, 1) << "no login without a file name";

    params.RemoteSite = "/web/ip";
    EXPECT_EQ(UploadPageFile(params).Outcome, PageUploadOutcome::UploadFailed) << "a directory is in the way";

    params.LocalFile = local.File("gone.htm");
    params.RemoteSite = "/gone.htm";
    const PageUploadResult result = UploadPageFile(params);
    EXPECT_EQ(result.Outcome, PageUploadOutcome::Error);
    EXPECT_EQ(result.ErrorText,
              "Cannot open file \"" + local.File("gone.htm") + "\". No such file or directory");
    EXPECT_FALSE(server.Root().Exists("gone.htm"));
}

// A mode this program does not know is not taken for plain FTP: the password never leaves.
TEST(UploadFailureCause, NamesTheLibrarysFailuresButNotTheServersRefusal) {
    PageUploadResult result;
    result.Error = wininet::kErrorInternetTimeout;
    result.ServerReply = "SSL connection timeout";
    EXPECT_EQ(UploadFailureCause(result), "Server antwortet nicht (Zeitüberschreitung)"_l1);
    result.Error = wininet::kErrorInternetInternalError;
    result.ServerReply = "Too large response headers: 311296 > 307200";
    EXPECT_EQ(UploadFailureCause(result), "Antwort des Servers zu groß oder ungültig"_l1);
    result.ServerReply = "530 Too large a password, timed out";
    EXPECT_EQ(UploadFailureCause(result), "") << "the server's own words stand for themselves";
    result.ServerReply = "SSL certificate problem";
    result.UntrustedKey = "sha256//abc=";
    EXPECT_EQ(UploadFailureCause(result), "") << "a refused key has its own line";
}

TEST_F(PageUploadTest, UnknownModeIsRefusedBeforeAnyConnection) {
    params.RemoteSite = "/myserver.htm";
    params.Mode = 4;
    PageUploadResult result = UploadPageFile(params);
    EXPECT_EQ(result.Outcome, PageUploadOutcome::LoginFailed);
    EXPECT_EQ(result.ServerReply, "FTPMode 4 unbekannt");
    EXPECT_FALSE(result.Unavailable);
    params.Mode = -1;
    result = CheckLogin(params);
    EXPECT_EQ(result.Outcome, PageUploadOutcome::LoginFailed);
    EXPECT_EQ(result.ServerReply, "FTPMode -1 unbekannt");
    EXPECT_EQ(prepared, 0) << "no client was set up";
    EXPECT_FALSE(server.Root().Exists("myserver.htm"));
}

} // namespace
} // namespace pelorix
