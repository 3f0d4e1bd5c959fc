#include "base/Latin1.h"

#include <gtest/gtest.h>

using namespace pelorix;

TEST(Latin1, LiteralBecomesLatin1Bytes) {
    const std::string text = "Änderungen werden erst nach Neustart des Dienstes wirksam!"_l1;
    ASSERT_EQ(text.size(), 58u);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), 0xC4);
    EXPECT_EQ(text.substr(1, 9), "nderungen");
    EXPECT_EQ("übernimmt ß ÿ"_l1, std::string("\xFC"
                                              "bernimmt \xDF \xFF"));
    EXPECT_EQ(""_l1, "");
}

TEST(Latin1, ConvertsBothWaysForEveryCharacter) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(all)), all);
    EXPECT_EQ(Latin1ToUtf8("\xE4"), "ä");
}

TEST(Latin1, ReplacesWhatLatin1CannotHold) {
    EXPECT_EQ(Utf8ToLatin1("a€b"), "a?b");
    EXPECT_EQ(Utf8ToLatin1("x\xC3"), "x?");
    EXPECT_EQ(Utf8ToLatin1("\xFF\xFE"), "??");
    EXPECT_EQ(Utf8ToLatin1("😀"), "?");
    EXPECT_EQ(Utf8ToLatin1("a\xC0\x80"
                           "b\xE0\x80\x8A"),
              "a?b?");
}
