// The scan of address-source answers and the split of the address-source setting.

#include "svc/AddressScan.h"

#include "base/Latin1.h"

#include "TestSystem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

namespace pelorix {
namespace {

std::string Http(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nServer: Apache/2.4.57 (Debian)\r\nContent-Type: text/html\r\n\r\n" + body;
}

TEST(AddressScanTest, IntegerConversionAcceptsBlanksSignAndDigitsOnly) {
    int v = -7;
    EXPECT_TRUE(ScanInteger("84", v));
    EXPECT_EQ(v, 84);
    EXPECT_TRUE(ScanInteger("  -12", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(ScanInteger("+003", v));
    EXPECT_EQ(v, 3);
    v = 99;
    for (const char* bad : {"", " ", "-", "1 ", "1\n", "1<", ">1", "0x1", "$1F", "1.2", "99999999999"})
        EXPECT_FALSE(ScanInteger(bad, v)) << bad;
    EXPECT_EQ(v, 99);
    EXPECT_TRUE(ScanInteger("-2147483648", v));
    EXPECT_EQ(v, INT_MIN);
    EXPECT_FALSE(ScanInteger("2147483648", v));
}

TEST(AddressScanTest, FindsTheAddressesOfTypicalAnswers) {
    // A test CGI echoing its environment; the blank before the number is skipped.
    EXPECT_EQ(FindAddressInAnswer(Http("SERVER_NAME = www.example.org\nREMOTE_ADDR = 84.123.45.6\n")),
              "84.123.45.6");
    // Between bold tags: the fourth number stops before the next tag.
    EXPECT_EQ(FindAddressInAnswer(Http("<html><body>Ihre Adresse: <b>84.1.2.3</b></body></html>")),
              "84.1.2.3");
    // A version number with two dots followed by text is passed over.
    EXPECT_EQ(FindAddressInAnswer(
                  Http("<p>Apache/1.3.26 Server at www.example.org</p>\nREMOTE_ADDR = 84.123.45.6\n")),
              "84.123.45.6");
    // Leading zeros go with the formatting.
    EXPECT_EQ(FindAddressInAnswer(Http("084.001.002.003")), "84.1.2.3");
    // A bare address with a line end, as plain-text address services send it.
    EXPECT_EQ(FindAddressInAnswer("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n\r\n"
                                  "84.123.45.6\n"),
              "84.123.45.6");
    // An HTML page of an address-check service.
    EXPECT_EQ(FindAddressInAnswer("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 104\r\n\r\n"
                                  "<html><head><title>Current IP Check</title></head><body>"
                                  "Current IP Address: 93.184.216.34</body></html>\r\n"),
              "93.184.216.34");
}

TEST(AddressScanTest, HeadersAreNotScannedWhenTheyEndProperly) {
    EXPECT_EQ(FindAddressInAnswer("HTTP/1.0 200 OK\r\nX-Forwarded-For: 10.1.2.3\r\n\r\nnothing here"), "");
    EXPECT_EQ(FindAddressInAnswer("HTTP/1.0 200 OK\r\nServer: x/1.18.0\r\nDate: Mon\r\n\r\n"), "");
    // Without the empty line the whole answer counts.
    EXPECT_EQ(FindAddressInAnswer("HTTP/1.0 200 OK\nServer: nginx/1.18.0\n\n84.1.2.3\n"), "84.1.2.3");
}

TEST(AddressScanTest, AnswersWithoutAnAddress) {
    for (const char* answer :
         {"", "..", "1.2.3", "1.2.3.", "a.b.c.d", "1.2.3.x", "Version 1.3.26 ok.", "1.2.3.456"})
        EXPECT_EQ(FindAddressInAnswer(answer), "") << answer;
}

TEST(AddressScanTest, NumbersOutOfRangeArePassedOver) {
    EXPECT_EQ(FindAddressInAnswer("300.1.2.3 84.1.2.3"), "84.1.2.3");
    EXPECT_EQ(FindAddressInAnswer("1.2.300.3 then 84.1.2.3"), "84.1.2.3");
    EXPECT_EQ(FindAddressInAnswer("-1.2.3.4 und 5.6.7.8"), "5.6.7.8");
    EXPECT_EQ(FindAddressInAnswer("1.2.3.-4 und 5.6.7.8"), "5.6.7.8");
    // A candidate whose fourth number fails must not inherit the one of an earlier candidate.
    EXPECT_EQ(FindAddressInAnswer("300.1.2.3 5.6.7.x"), "");
    EXPECT_EQ(FindAddressInAnswer("255.255.255.255"), "255.255.255.255");
    EXPECT_EQ(FindAddressInAnswer("0.0.0.0"), "0.0.0.0");
}

TEST(AddressScanTest, OnlyTheFirstCharactersAreScanned) {
    const std::string filler(kScanLimit - 7, 'x');
    EXPECT_EQ(FindAddressInAnswer(filler + "1.2.3.4"), "1.2.3.4");
    EXPECT_EQ(FindAddressInAnswer(filler + "x1.2.3.4"), "");
}

TEST(AddressScanTest, RandomBytesNeverYieldAnythingButAnAddress) {
    // Mostly the characters the scan cares about, with some arbitrary bytes among them.
    std::string alphabet = "0123456789012345....... -+<>\r\n\naZÿ"_l1;
    alphabet += '\0';
    std::mt19937 random(4711);
    std::uniform_int_distribution<int> length(0, 48);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) - 1);
    std::uniform_int_distribution<int> anyByte(0, 255);
    int found = 0;
    std::string answer;
    for (int i = 0; i < 100000; ++i) {
        answer.clear();
        const int n = length(random);
        for (int k = 0; k < n; ++k)
            answer += k % 7 == 6 ? static_cast<char>(anyByte(random)) : alphabet[pick(random)];
        const std::string address = FindAddressInAnswer(answer);
        if (address.empty())
            continue;
        ++found;
        ASSERT_EQ(address, test::CanonicalIPv4(address)); // the system's parser takes it as it stands
    }
    EXPECT_GT(found, 20); // the strings were not all hopeless
}

TEST(AddressScanTest, AddressSourceSplitsAtItsFirstSlash) {
    std::string host = "alt", path = "alt";
    EXPECT_TRUE(SplitAddressSource("www.example.org/cgi-bin/test-cgi", host, path));
    EXPECT_EQ(host, "www.example.org");
    EXPECT_EQ(path, "/cgi-bin/test-cgi");
    EXPECT_TRUE(SplitAddressSource("ab/", host, path));
    EXPECT_EQ(host, "ab");
    EXPECT_EQ(path, "/");
    for (const char* bad : {"www.example.org", "a/ip", "/ip", ""}) {
        EXPECT_FALSE(SplitAddressSource(bad, host, path)) << bad;
        EXPECT_EQ(host + path, "") << bad;
    }
}

} // namespace
} // namespace pelorix
