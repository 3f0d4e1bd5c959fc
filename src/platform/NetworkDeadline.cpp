#include "platform/NetworkDeadline.h"

#include "platform/Clock.h"

#include <algorithm>
#include <climits>

namespace pelorix {
namespace {

thread_local Deadline tDeadline;

} // namespace

Deadline Deadline::In(const IClock& clock, long long limitMs) {
    return Deadline(clock, clock.MonotonicMs() + std::max(0LL, limitMs));
}

long long Deadline::LeftMs() const {
    return std::max(0LL, endMs_ - clock_->MonotonicMs());
}

bool Deadline::Passed() const {
    return clock_ && clock_->MonotonicMs() >= endMs_;
}

int Deadline::Cap(int limitMs) const {
    if (!clock_)
        return limitMs;
    const long long left = LeftMs();
    if (limitMs < 0)
        return static_cast<int>(std::min<long long>(left, INT_MAX));
    return static_cast<int>(std::min<long long>(left, limitMs));
}

Deadline Deadline::Sooner(const Deadline& other) const {
    if (!other.clock_)
        return *this;
    if (!clock_)
        return other;
    if (other.clock_ == clock_)
        return Deadline(*clock_, std::min(endMs_, other.endMs_));
    // Two clocks meet only in what is left of each.
    return other.LeftMs() < LeftMs() ? In(*clock_, other.LeftMs()) : *this;
}

ScopedNetworkDeadline::ScopedNetworkDeadline(const Deadline& deadline) : previous_(tDeadline) {
    tDeadline = deadline.Sooner(previous_);
}

ScopedNetworkDeadline::~ScopedNetworkDeadline() {
    tDeadline = previous_;
}

Deadline NetworkDeadline() {
    return tDeadline;
}

int CapToNetworkDeadline(int timeoutMs) {
    return tDeadline.Cap(timeoutMs);
}

bool NetworkDeadlinePassed() {
    return tDeadline.Passed();
}

} // namespace pelorix
