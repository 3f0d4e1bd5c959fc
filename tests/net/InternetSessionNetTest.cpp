// Name lookups that fail, where no name service can be reached: a private network namespace
// with only loopback up.

#include "net/InternetSession.h"

#include "net/SimpFTP.h"

#include <gtest/gtest.h>

using namespace pelorix;
using namespace pelorix::wininet;

namespace {

std::vector<std::uint32_t> gStatuses;

void Record(std::uintptr_t, std::uint32_t status, const void*, std::uint32_t) {
    gStatuses.push_back(status);
}

TEST(InternetSessionNetTest, UnknownNameIsNotResolved) {
    InternetSession session("Pelorix", kOpenTypeDirect, {}, {}, 0);
    session.SetStatusCallback(&Record);
    EXPECT_FALSE(session.ConnectFtp("ftp.pelorix.invalid", 21, "u", "p", 0, 0));
    EXPECT_EQ(LastError(), kErrorInternetNameNotResolved);
    EXPECT_EQ(gStatuses, std::vector<std::uint32_t>{kStatusResolvingName});
}

TEST(InternetSessionNetTest, SimpleFtpNamesTheHostItCouldNotResolve) {
    TSimpleFTP ftp;
    ftp.HostName = "ftp.pelorix.invalid";
    EXPECT_FALSE(ftp.Connect());
    EXPECT_EQ(ftp.State(), 1);
    ftp.SilentExceptions = false;
    try {
        ftp.Connect();
        ADD_FAILURE();
    } catch (const EWinInetError& e) {
        EXPECT_STREQ(e.what(), "Unable to resolve host name 'ftp.pelorix.invalid'");
    }
}

TEST(InternetSessionNetTest, NobodyOnPort21) {
    TSimpleFTP ftp;
    ftp.HostName = "localhost";
    ftp.SilentExceptions = false;
    try {
        ftp.Connect();
        ADD_FAILURE();
    } catch (const EWinInetError& e) {
        EXPECT_STREQ(e.what(), "Unable to connect to localhost");
    }
}

} // namespace
