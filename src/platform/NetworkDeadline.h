#pragma once
// One time limit for everything a thread does on the network, as a whole: while a
// ScopedNetworkDeadline lives, every wait of the socket layer and of the FTP session on that
// thread ends by its deadline at the latest, and a wait that finds the deadline passed fails
// at once (as a time-out). The manager runs each network action under one, so an action ends
// within its limit however its exchanges stall. Threads without one wait as asked.

namespace pelorix {

class IClock;

class ScopedNetworkDeadline {
public:
    // deadlineMs on clock's monotonic scale.
    ScopedNetworkDeadline(const IClock& clock, long long deadlineMs);
    ~ScopedNetworkDeadline();
    ScopedNetworkDeadline(const ScopedNetworkDeadline&) = delete;
    ScopedNetworkDeadline& operator=(const ScopedNetworkDeadline&) = delete;

private:
    const IClock* previousClock_;
    long long previousDeadline_;
};

// timeoutMs (negative: no limit) cut to what is left of the calling thread's deadline; 0 once
// it has passed; timeoutMs itself on a thread without a deadline.
int CapToNetworkDeadline(int timeoutMs);

// The calling thread's deadline has passed.
bool NetworkDeadlinePassed();

} // namespace pelorix
