#include "platform/Clock.h"

#include <thread>

namespace pelorix {

long long SystemClock::MonotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

void SystemSleeper::SleepMs(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

SystemSleeper& SystemSleeper::Instance() {
    static SystemSleeper sleeper;
    return sleeper;
}

} // namespace pelorix
