#pragma once
// One deadline for a whole exchange. A peer that sends a byte now and then never lets a single
// wait time out, and a name server that never answers holds a look-up for minutes; cutting
// every wait to what is left of the exchange bounds it as a whole.
//
// A Deadline is a moment on an IClock's monotonic scale. While a ScopedNetworkDeadline lives,
// it is the calling thread's deadline: every wait of the socket layer, TLS handshake, name
// look-up, libcurl transfer and helper process on that thread ends by it at the latest, and one
// that finds it passed fails at once (as a time-out) without starting. Scopes nest: an inner
// deadline cannot reach beyond the outer one. Threads without a scope wait as asked.

namespace pelorix {

class IClock;

class Deadline {
public:
    // No deadline: every wait as long as asked.
    Deadline() = default;
    // The moment endMs on clock's monotonic scale.
    Deadline(const IClock& clock, long long endMs) : clock_(&clock), endMs_(endMs) {}
    // limitMs from now on clock (negative counts as 0).
    static Deadline In(const IClock& clock, long long limitMs);

    bool IsSet() const { return clock_ != nullptr; }
    bool Passed() const;
    // limitMs (negative: no limit) cut to what is left; 0 once passed; limitMs itself when no
    // deadline is set.
    int Cap(int limitMs) const;
    // The earlier of the two, on this one's clock when both are set.
    Deadline Sooner(const Deadline& other) const;

private:
    long long LeftMs() const;

    const IClock* clock_ = nullptr;
    long long endMs_ = 0;
};

class ScopedNetworkDeadline {
public:
    explicit ScopedNetworkDeadline(const Deadline& deadline);
    ~ScopedNetworkDeadline();
    ScopedNetworkDeadline(const ScopedNetworkDeadline&) = delete;
    ScopedNetworkDeadline& operator=(const ScopedNetworkDeadline&) = delete;

private:
    Deadline previous_;
};

// The calling thread's deadline; none outside every scope.
Deadline NetworkDeadline();

// timeoutMs cut to the calling thread's deadline, as Deadline::Cap.
int CapToNetworkDeadline(int timeoutMs);

// The calling thread's deadline has passed.
bool NetworkDeadlinePassed();

} // namespace pelorix
