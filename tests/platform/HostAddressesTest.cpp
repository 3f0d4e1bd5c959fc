// The host's own addresses as the system lists them.

#include "platform/HostAddresses.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(HostAddressesTest, ListsDottedAddressesWithoutLoopbackUnlessThatIsAll) {
    const std::vector<std::string> addresses = SystemHostAddresses::Instance().HostAddresses();
    ASSERT_FALSE(addresses.empty());
    for (const std::string& address : addresses) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    }
    if (addresses.size() > 1 || addresses.front() != "127.0.0.1") {
        for (const std::string& address : addresses) {
            EXPECT_NE(address.rfind("127.", 0), 0u) << address;
        }
    }
}

} // namespace
} // namespace pelorix
