#include "net/FtpReply.h"

#include <gtest/gtest.h>

namespace pelorix::wininet {
namespace {

// The manager stores the bypass list as lines; each library takes it with its own separator.
TEST(FtpReplyTest, BypassListJoinsTheNamesWithTheLibrarysSeparator) {
    const std::string stored = "intern.example\r\n  lokal;nas,drucker\t\r\n";
    EXPECT_EQ(BypassList(stored, ','), "intern.example,lokal,nas,drucker");
    EXPECT_EQ(BypassList(stored, ';'), "intern.example;lokal;nas;drucker");
    EXPECT_EQ(BypassList("\r\n ; ", ','), "");
}

} // namespace
} // namespace pelorix::wininet
