// The libcurl linked into the Windows program speaks what the settings can ask for, TLS
// through Schannel (the system's certificate store) and SFTP through libssh2.

#include "net/CurlLibrary.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace pelorix {
namespace {

TEST(CurlBuildTest, OffersEveryConnectionTypeThroughTheSystemsTls) {
    std::string error;
    wininet::CurlHold curl;
    ASSERT_TRUE(curl.Take(error)) << error;
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    ASSERT_NE(info, nullptr);
    std::set<std::string> protocols;
    for (const char* const* protocol = info->protocols; *protocol != nullptr; ++protocol)
        protocols.insert(*protocol);
    for (const char* wanted : {"ftp", "ftps", "http", "https", "sftp"})
        EXPECT_TRUE(protocols.count(wanted)) << wanted;
    EXPECT_FALSE(protocols.count("file")) << "only what the program needs";
    EXPECT_EQ(std::string(info->ssl_version).rfind("Schannel", 0), 0u) << info->ssl_version;
    ASSERT_NE(info->libssh_version, nullptr);
    EXPECT_EQ(std::string(info->libssh_version).rfind("libssh2/", 0), 0u) << info->libssh_version;
}

} // namespace
} // namespace pelorix
