#include "platform/NetworkDeadline.h"

#include "platform/Clock.h"

#include <algorithm>
#include <climits>

namespace pelorix {
namespace {

thread_local const IClock* tClock = nullptr;
thread_local long long tDeadline = 0;

} // namespace

ScopedNetworkDeadline::ScopedNetworkDeadline(const IClock& clock, long long deadlineMs)
    : previousClock_(tClock), previousDeadline_(tDeadline) {
    // A deadline inside another one cannot reach beyond it.
    if (tClock)
        deadlineMs = std::min(deadlineMs, tDeadline);
    tClock = &clock;
    tDeadline = deadlineMs;
}

ScopedNetworkDeadline::~ScopedNetworkDeadline() {
    tClock = previousClock_;
    tDeadline = previousDeadline_;
}

int CapToNetworkDeadline(int timeoutMs) {
    if (!tClock)
        return timeoutMs;
    const long long left = std::max(0LL, tDeadline - tClock->MonotonicMs());
    if (timeoutMs < 0)
        return static_cast<int>(std::min<long long>(left, INT_MAX));
    return static_cast<int>(std::min<long long>(left, timeoutMs));
}

bool NetworkDeadlinePassed() {
    return tClock && tClock->MonotonicMs() >= tDeadline;
}

} // namespace pelorix
