// The strict IPv6 parser against the system's own, the scan of address-source answers, and the
// choice of the address to publish among an interface's addresses.

#include "svc/AddressScan6.h"
#include "svc/AddressChoice.h"
#include "svc/AddressScan.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace pelorix {
namespace {

TEST(AddressScan6Test, ParsesWhatTheSystemParsesAndNothingElse) {
    for (const char* good : {"::", "::1", "2001:db8::1", "2001:DB8:0:0:0:0:0:1", "1:2:3:4:5:6:7:8",
                             "1:2:3:4:5:6:7::", "::2:3:4:5:6:7:8", "::ffff:192.0.2.1", "1:2:3:4:5:6:1.2.3.4",
                             "fe80::1", "0:0:0:0:0:0:0:0"}) {
        in6_addr system{};
        ASSERT_EQ(inet_pton(AF_INET6, good, &system), 1) << good;
        const auto mine = ParseIPv6(good);
        ASSERT_TRUE(mine) << good;
        EXPECT_EQ(std::memcmp(mine->data(), &system, 16), 0) << good;
    }
    for (const char* bad : {"",
                            ":",
                            ":::",
                            "1:2:3:4:5:6:7",
                            "1:2:3:4:5:6:7:8:9",
                            "1:2:3:4:5:6:7:8::",
                            "1::2::3",
                            "12345::1",
                            "::1%eth0",
                            "fe80::1%1",
                            "::g",
                            "1:2:3:4:5:6:7:1.2.3.4",
                            "::256.1.1.1",
                            "::1.2.3",
                            "::01.2.3.4",
                            "1.2.3.4::",
                            ":1::2",
                            "1::2:",
                            "[2001:db8::1]",
                            "2001:db8::1 ",
                            "84.1.2.3"}) {
        EXPECT_FALSE(ParseIPv6(bad)) << bad;
    }
}

TEST(AddressScan6Test, WritesTheRecommendedForm) {
    EXPECT_EQ(CanonicalIPv6("2001:0DB8:0000:0000:0001:0000:0000:0001"), "2001:db8::1:0:0:1");
    EXPECT_EQ(CanonicalIPv6("2001:db8:0:1:1:1:1:1"), "2001:db8:0:1:1:1:1:1"); // one zero group stays
    EXPECT_EQ(CanonicalIPv6("0:0:0:0:0:0:0:0"), "::");
    EXPECT_EQ(CanonicalIPv6("1:0:0:2:0:0:0:3"), "1:0:0:2::3");
    EXPECT_EQ(CanonicalIPv6("::ffff:192.0.2.1"), "::ffff:c000:201");
    EXPECT_EQ(CanonicalIPv6("nonsense"), "");
}

TEST(AddressScan6Test, FindsTheAddressOfTypicalAnswers) {
    EXPECT_EQ(
        FindIPv6InAnswer("HTTP/1.0 200 OK\r\nDate: Mon, 07 Dec 2026 22:05:09 GMT\r\n\r\n2001:db8::42\n"),
        "2001:db8::42");
    EXPECT_EQ(FindIPv6InAnswer("<body>Current IP Address: 2001:DB8:0:0::7</body>"), "2001:db8::7");
    EXPECT_EQ(FindIPv6InAnswer("REMOTE_ADDR=[2001:db8::1]:51000"), "2001:db8::1");
    EXPECT_EQ(FindIPv6InAnswer("IP:2001:db8::5 Zeit 22:05:09"), "2001:db8::5");
    EXPECT_EQ(FindIPv6InAnswer("Ihre Adresse ist 2001:db8::9."), "2001:db8::9");
    // Things that look like an address on the way to the real one.
    EXPECT_EQ(FindIPv6InAnswer("Data::Dumper 12:30:45 ab:cd:ef:01:23:45 fe80::1%eth0 1:2::3::4 2001:db8::2"),
              "2001:db8::2");
    EXPECT_EQ(FindIPv6InAnswer("x2001:db8::1 2001:db8::1y 84.1.2.3 :::1"), "");
    EXPECT_EQ(FindIPv6InAnswer(""), "");
}

TEST(AddressScan6Test, OnlyTheFirstCharactersAreScanned) {
    const std::string filler(kScanLimit - 11, ' ');
    EXPECT_EQ(FindIPv6InAnswer(filler + "2001:db8::1"), "2001:db8::1");
    EXPECT_EQ(FindIPv6InAnswer(filler + " 2001:db8::1"), "2001:db8::");
}

// The parser agrees with the system's on every string, and the scan never yields anything the
// system would not take for an address.
TEST(AddressScan6Test, RandomStringsAgreeWithTheSystemsParser) {
    const std::string alphabet = "0123456789abcdefABCDEF::::::....% [x";
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) - 1);
    int accepted = 0;
    int found = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const int n = length(random);
        for (int k = 0; k < n; ++k)
            text += alphabet[static_cast<std::size_t>(pick(random))];
        in6_addr system{};
        const bool systemTakes = inet_pton(AF_INET6, text.c_str(), &system) == 1;
        const auto mine = ParseIPv6(text);
        ASSERT_EQ(mine.has_value(), systemTakes) << text;
        if (mine) {
            ++accepted;
            ASSERT_EQ(std::memcmp(mine->data(), &system, 16), 0) << text;
        }
        const std::string scanned = FindIPv6InAnswer(text);
        if (!scanned.empty()) {
            ++found;
            ASSERT_EQ(inet_pton(AF_INET6, scanned.c_str(), &system), 1) << text;
        }
    }
    EXPECT_GT(accepted, 100);
    EXPECT_GT(found, 100);
}

HostAddress6 Stable(const char* address, std::uint32_t preferred = HostAddress6::kForever) {
    HostAddress6 a;
    a.Address = address;
    a.PreferredLifetime = preferred;
    return a;
}

TEST(AddressChoiceTest, OnlyPreferredStableGlobalAddressesArePublished) {
    HostAddress6 temporary = Stable("2001:db8:1::7e3a:91ff:fe00:1", 3000);
    temporary.Temporary = true;
    HostAddress6 deprecated = Stable("2001:db8:1::dead");
    deprecated.Deprecated = true;
    HostAddress6 expired = Stable("2001:db8:1::e", 0);
    HostAddress6 tentative = Stable("2001:db8:1::7");
    tentative.Tentative = true;
    HostAddress6 duplicate = Stable("2001:db8:1::d");
    duplicate.DuplicateFound = true;
    const std::vector<HostAddress6> none{
        temporary,         deprecated,        expired,       tentative,         duplicate,
        Stable("fd00::1"), Stable("fe80::1"), Stable("::1"), Stable("ff02::1"), Stable("kaputt")};
    EXPECT_EQ(ChooseIPv6Address(none, ""), "");
    EXPECT_EQ(ChooseIPv6Address(none, "2001:db8:1::dead"), "") << "a deprecated address is left";

    std::vector<HostAddress6> some = none;
    some.push_back(Stable("2001:DB8:1::0:1", 3600));
    EXPECT_EQ(ChooseIPv6Address(some, ""), "2001:db8:1::1");
}

TEST(AddressChoiceTest, ThePublishedAddressStaysWhileItMayBePublished) {
    const std::vector<HostAddress6> two{Stable("2001:db8:1::1", 1800), Stable("2001:db8:2::1", 7200),
                                        Stable("2001:db8:3::1", 7200)};
    EXPECT_EQ(ChooseIPv6Address(two, ""), "2001:db8:2::1") << "longest preferred lifetime, first of equals";
    EXPECT_EQ(ChooseIPv6Address(two, "2001:db8:1::1"), "2001:db8:1::1");
    EXPECT_EQ(ChooseIPv6Address(two, "2001:db8:9::1"), "2001:db8:2::1");
}

TEST(AddressChoiceTest, NonPublicIPv4Ranges) {
    EXPECT_EQ(NonPublicIPv4Reason("100.64.12.34"), "Carrier-Grade-NAT");
    EXPECT_EQ(NonPublicIPv4Reason("100.127.255.255"), "Carrier-Grade-NAT");
    for (const char* address :
         {"10.0.0.1", "172.16.0.1", "172.31.255.255", "192.168.178.20", "169.254.1.1", "127.0.0.1"})
        EXPECT_EQ(NonPublicIPv4Reason(address), "privates Netz") << address;
    for (const char* address : {"100.63.255.255", "100.128.0.0", "172.15.0.1", "172.32.0.1", "192.169.0.1",
                                "198.51.100.7", "84.1.2.3", "###", "0", ""})
        EXPECT_FALSE(NonPublicIPv4Reason(address)) << address;
}

} // namespace
} // namespace pelorix
