// Name look-ups against a name server that never answers (SilentNameServer: a private mount
// namespace whose /etc/resolv.conf points at a socket of the test that drops every query): each
// ends at the thread's network deadline, none starts once it has passed, and look-ups that
// keep stalling never pile up threads or sockets.

#include "platform/NameLookup.h"

#include "SilentNameServer.h"
#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"
#include "platform/TcpSocket.h"

#include <gtest/gtest.h>

#include <dirent.h>

namespace pelorix {
namespace {

using test::kStalledName;
using test::SilentNameServer;

const IClock& kClock = SystemClock::Instance();

int EntriesOf(const char* directory) {
    int count = 0;
    if (DIR* listing = ::opendir(directory)) {
        while (::readdir(listing) != nullptr)
            ++count;
        ::closedir(listing);
    }
    return count;
}

void WaitForQuery(const SilentNameServer& server, const std::string& name) {
    for (int round = 0; round < 100 && server.QueriesFor(name) == 0; ++round)
        SystemSleeper::Instance().SleepMs(10);
}

TEST(NameLookupNetTest, ALookUpEndsAtTheDeadlineAsANameThatDidNotResolve) {
    SilentNameServer server;
    ASSERT_TRUE(server.Ready()) << server.Problem();
    const long long start = kClock.MonotonicMs();
    {
        const ScopedNetworkDeadline deadline(Deadline::In(kClock, 300));
        TcpSocket socket;
        EXPECT_EQ(socket.Connect(kStalledName, 80, 20000), TcpResult::ResolveFailed);
    }
    const long long took = kClock.MonotonicMs() - start;
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 1500);
    WaitForQuery(server, kStalledName);
    EXPECT_GE(server.QueriesFor(kStalledName), 1); // it was the name server that stalled
}

TEST(NameLookupNetTest, NothingIsAskedOnceTheDeadlineHasPassed) {
    SilentNameServer server;
    ASSERT_TRUE(server.Ready()) << server.Problem();
    const ScopedNetworkDeadline passed(Deadline::In(kClock, 0));
    EXPECT_EQ(ResolveIPv4(kStalledName), std::nullopt);
    // Addresses and "localhost" need no name server: they are answered even now.
    EXPECT_EQ(ResolveIPv4("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(ResolveIPv4("localhost"), "127.0.0.1");
    SystemSleeper::Instance().SleepMs(200);
    EXPECT_EQ(server.QueriesFor(kStalledName), 0);
}

TEST(NameLookupNetTest, LookUpsThatKeepStallingKeepThreadsAndSocketsBounded) {
    SilentNameServer server;
    ASSERT_TRUE(server.Ready()) << server.Problem();
    const int threads = EntriesOf("/proc/self/task");
    const int descriptors = EntriesOf("/proc/self/fd");
    const long long start = kClock.MonotonicMs();
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        const ScopedNetworkDeadline deadline(Deadline::In(kClock, 25));
        EXPECT_EQ(ResolveIPv4(kStalledName), std::nullopt);
        EXPECT_LE(EntriesOf("/proc/self/task"), threads + kMaxRunningLookUps);
        EXPECT_LE(EntriesOf("/proc/self/fd"), descriptors + kMaxRunningLookUps);
    }
    // Each waited its deadline and no longer, a place or an answer.
    EXPECT_LT(kClock.MonotonicMs() - start, kRounds * 25 + 1500);
    // The look-ups that ran are still stalled: the ones after them never asked.
    WaitForQuery(server, kStalledName);
    EXPECT_LE(server.QueriesFor(kStalledName), kMaxRunningLookUps);
}

} // namespace
} // namespace pelorix
