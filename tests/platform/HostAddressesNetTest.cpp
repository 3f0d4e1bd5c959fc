// In a private network namespace only loopback is up, so the host has no address of its
// own and the list is the lone loopback address.

#include "platform/HostAddresses.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(HostAddressesNetTest, OnlyLoopbackGivesTheLoneLoopbackAddress) {
    EXPECT_EQ(SystemHostAddresses::Instance().HostAddresses(), std::vector<std::string>{"127.0.0.1"});
}

} // namespace
} // namespace pelorix
