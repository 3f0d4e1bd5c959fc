// Base64 as the mail encodes and decodes it.

#include "base/Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace pelorix {
namespace {

TEST(Base64, EncodesWithRfcPadding) {
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("a"), "YQ==");
    EXPECT_EQ(EncodeBase64("ab"), "YWI=");
    EXPECT_EQ(EncodeBase64("abc"), "YWJj");
    EXPECT_EQ(EncodeBase64("Username:"), "VXNlcm5hbWU6");
    EXPECT_EQ(EncodeBase64(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Base64, DecodesIgnoringLineBreaksAndPadding) {
    EXPECT_EQ(DecodeBase64("VXNlcm5hbWU6"), "Username:");
    EXPECT_EQ(DecodeBase64("VXNlcm5hbWU6\r\n"), "Username:");
    EXPECT_EQ(DecodeBase64("YQ=="), "a");
    EXPECT_EQ(DecodeBase64("YQ"), "a");
    EXPECT_EQ(DecodeBase64("YW\r\nJj"), "abc");
    // A blank counts as the value 0 ("A").
    EXPECT_EQ(DecodeBase64("YW J"), DecodeBase64("YWAJ"));
    const std::string all = [] {
        std::string s;
        for (int c = 0; c < 256; ++c)
            s += static_cast<char>(c);
        return s;
    }();
    EXPECT_EQ(DecodeBase64(EncodeBase64(all)), all);
}

} // namespace
} // namespace pelorix
