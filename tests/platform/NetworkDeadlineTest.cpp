// The thread's network deadline cuts every wait of the socket layer short, on that thread only.

#include "platform/NetworkDeadline.h"

#include "ScriptedPeer.h"
#include "platform/Clock.h"
#include "platform/TcpSocket.h"

#include <gtest/gtest.h>

using pelorix::TcpResult;
using pelorix::TcpSocket;

TEST(NetworkDeadlineTest, ASilentPeerIsGivenUpAtTheDeadline) {
    pelorix::test::ScriptedPeer peer;
    peer.Run([](pelorix::test::PeerConnection& c) { c.ReadToEnd(3000); });
    const pelorix::IClock& clock = pelorix::SystemClock::Instance();
    TcpSocket socket;
    ASSERT_EQ(socket.Connect("127.0.0.1", peer.Port(), 2000), TcpResult::Ok);
    const long long start = clock.MonotonicMs();
    char buffer[16];
    std::size_t received = 0;
    {
        const pelorix::ScopedNetworkDeadline deadline(pelorix::Deadline(clock, start + 200));
        EXPECT_EQ(socket.Receive(buffer, sizeof buffer, 10000, received), TcpResult::Timeout);
        EXPECT_TRUE(pelorix::NetworkDeadlinePassed());
        EXPECT_EQ(pelorix::CapToNetworkDeadline(10000), 0);
        // An inner deadline cannot reach beyond the outer one.
        const pelorix::ScopedNetworkDeadline later(pelorix::Deadline(clock, start + 60000));
        EXPECT_EQ(pelorix::CapToNetworkDeadline(-1), 0);
    }
    const long long took = clock.MonotonicMs() - start;
    EXPECT_GE(took, 190);
    EXPECT_LT(took, 2000);
    // Without a deadline a wait takes as long as asked; other threads never had one.
    EXPECT_FALSE(pelorix::NetworkDeadlinePassed());
    EXPECT_EQ(pelorix::CapToNetworkDeadline(1234), 1234);
    socket.Close();
}

namespace {

class SteppedClock final : public pelorix::IClock {
public:
    pelorix::LocalTime Now() const override { return {}; }
    long long MonotonicMs() const override { return now; }
    long long now = 0;
};

} // namespace

TEST(NetworkDeadlineTest, ADeadlineFollowsItsOwnClockAndMeetsAnotherInWhatIsLeft) {
    SteppedClock fast, other;
    fast.now = 1000;
    other.now = 50;
    const pelorix::Deadline deadline = pelorix::Deadline::In(fast, 500);
    EXPECT_EQ(deadline.Cap(10000), 500);
    EXPECT_EQ(deadline.Cap(-1), 500);
    EXPECT_EQ(pelorix::Deadline().Cap(-1), -1);
    // The earlier of two deadlines on different clocks, taken on the first one's.
    const pelorix::Deadline sooner = deadline.Sooner(pelorix::Deadline::In(other, 200));
    EXPECT_EQ(sooner.Cap(10000), 200);
    fast.now += 199;
    EXPECT_FALSE(sooner.Passed());
    fast.now += 1;
    EXPECT_TRUE(sooner.Passed());
    EXPECT_EQ(sooner.Cap(10000), 0);
    EXPECT_EQ(deadline.Cap(10000), 300);
    // A thread's deadline is the earliest of its scopes'.
    {
        const pelorix::ScopedNetworkDeadline outer(deadline);
        const pelorix::ScopedNetworkDeadline inner(pelorix::Deadline::In(fast, 5000));
        EXPECT_EQ(pelorix::CapToNetworkDeadline(-1), 300);
    }
    EXPECT_FALSE(pelorix::NetworkDeadline().IsSet());
}
