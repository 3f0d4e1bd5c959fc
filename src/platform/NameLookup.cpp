#include "platform/NameLookup.h"

#include "platform/NetworkDeadline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace pelorix {

namespace {

// The deadline's clock may be a test's that moves on its own; a wait looks at it this often.
constexpr int kWaitSliceMs = 50;

// The places for running look-ups. Never destroyed: an abandoned look-up may end after main.
struct Places {
    std::mutex lock;
    std::condition_variable freed;
    int running = 0;
};

Places& ThePlaces() {
    static Places* places = new Places;
    return *places;
}

// What the caller and the look-up's thread share; whichever lets go last frees it.
struct Outcome {
    std::mutex lock;
    std::condition_variable ready;
    bool done = false;
    std::optional<std::string> value;
};

// Waits on condition under hold until done() or the deadline; false at the deadline.
template <typename Done>
bool WaitWithin(const Deadline& deadline, std::condition_variable& condition,
                std::unique_lock<std::mutex>& hold, Done done) {
    while (!done()) {
        const int left = deadline.Cap(kWaitSliceMs);
        if (left <= 0)
            return false;
        condition.wait_for(hold, std::chrono::milliseconds(left));
    }
    return true;
}

bool TakePlace(const Deadline& deadline) {
    Places& places = ThePlaces();
    std::unique_lock hold(places.lock);
    if (!WaitWithin(deadline, places.freed, hold, [&places] { return places.running < kMaxRunningLookUps; }))
        return false;
    ++places.running;
    return true;
}

void FreePlace() {
    Places& places = ThePlaces();
    {
        const std::lock_guard hold(places.lock);
        --places.running;
    }
    places.freed.notify_one();
}

} // namespace

std::optional<std::string> LookUpWithinDeadline(std::function<std::optional<std::string>()> lookUp) {
    const Deadline deadline = NetworkDeadline();
    if (!deadline.IsSet())
        return lookUp();
    if (deadline.Passed() || !TakePlace(deadline))
        return std::nullopt;
    auto outcome = std::make_shared<Outcome>();
    try {
        std::thread([outcome, lookUp = std::move(lookUp)] {
            std::optional<std::string> value;
            try {
                value = lookUp();
            } catch (...) {
            }
            {
                const std::lock_guard hold(outcome->lock);
                outcome->value = std::move(value);
                outcome->done = true;
            }
            outcome->ready.notify_all();
            FreePlace();
        }).detach();
    } catch (...) {
        FreePlace(); // no thread to be had
        return std::nullopt;
    }
    std::unique_lock hold(outcome->lock);
    if (!WaitWithin(deadline, outcome->ready, hold, [&outcome] { return outcome->done; }))
        return std::nullopt;
    return outcome->value;
}

} // namespace pelorix
