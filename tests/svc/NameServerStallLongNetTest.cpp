// The service's address check against a name server that never answers (SilentNameServer: a
// private mount namespace whose /etc/resolv.conf points at a socket of the test that drops every
// query; the resolver alone would wait 150 s for the name) ends within its real limit of one
// minute, end to end, with the line it reports for a name that does not resolve. It takes that
// minute, so it runs in the long stage of the suite, not in the everyday one.

#include "StageTestKit.h"

#include "SilentNameServer.h"
#include "net/SimpSock.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;
using test::kStalledName;
using test::SilentNameServer;

TEST(NameServerStallLongNetTest, AnAddressCheckEndsWithinItsMinute) {
    SilentNameServer server;
    ASSERT_TRUE(server.Ready()) << server.Problem();
    test::StageKit kit;
    kit.service.Router = true;
    kit.service.SourceHost = kStalledName;
    kit.service.SourcePath = "/ip.htm";
    const IClock& clock = SystemClock::Instance();
    const long long start = clock.MonotonicMs();
    EXPECT_FALSE(kit.Worker().QueryAddressSource());
    const long long took = clock.MonotonicMs() - start;
    EXPECT_GE(took, TSimpSock::kDefaultHttpDeadlineMs - 100);
    EXPECT_LT(took, TSimpSock::kDefaultHttpDeadlineMs + 2000);
    EXPECT_EQ(kit.Lines(),
              (Lines{"+Adressquelle wird kontaktiert", "-HTTP-Fehler: keine Netzwerksverbindung"}));
}

} // namespace
} // namespace pelorix
