#pragma once
// The whole service inside the test's own process: the module reads Pelorix.ini from its
// program directory and starts the real worker with its real stages (helpers, servers, the
// command), but the worker sleeps on a simulated clock, so the start delay and every tick
// pass at once. Between two ticks the test changes the world (an address page, a server);
// after the last tick it stops the service as the stop handler does.

#include "platform/FileSystemName.h"
#include "platform/HostAddresses.h"
#include "svc/Pelorix_Main.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelorix::test {

// The wall time starts on Monday, 7 December 2026, 22:05:09 and moves only by the sleeps
// skipped. The monotonic time is the real one plus the sleeps skipped, so a network deadline
// still runs out while a stage waits for a peer.
class SimulatedClock final : public IClock {
public:
    LocalTime Now() const override {
        using namespace std::chrono;
        const sys_time<milliseconds> now = sys_days{year{2026} / December / 7} + hours{22} + minutes{5} +
                                           seconds{9} + milliseconds{skippedMs_.load()};
        const sys_days day = floor<days>(now);
        const year_month_day date{day};
        const hh_mm_ss time{floor<seconds>(now - day)};
        LocalTime t;
        t.year = int(date.year());
        t.month = int(unsigned(date.month()));
        t.day = int(unsigned(date.day()));
        t.hour = int(time.hours().count());
        t.minute = int(time.minutes().count());
        t.second = int(time.seconds().count());
        t.weekday = int(weekday{day}.c_encoding());
        t.utcOffsetMinutes = 60;
        return t;
    }
    long long MonotonicMs() const override {
        return SystemClock::Instance().MonotonicMs() + skippedMs_.load();
    }
    void Skip(int ms) { skippedMs_ += ms; }

private:
    std::atomic<long long> skippedMs_{0};
};

// Skips every sleep on the clock. After each tick sleep (counted from 1) it keeps the log as it
// stands and calls betweenTicks on the worker's thread; at the tick given to HoldAt it holds the
// worker instead, until Release.
class SimulatedSleeper final : public ISleeper {
public:
    SimulatedSleeper(SimulatedClock& clock, std::string logFile)
        : clock_(clock), logFile_(std::move(logFile)) {}

    void SleepMs(int ms) override {
        clock_.Skip(ms);
        if (ms != TPeloThread::kTickSleepMs)
            return;
        std::unique_lock lock(mutex_);
        logs_.push_back(ReadFile(logFile_));
        const int tick = static_cast<int>(logs_.size());
        if (betweenTicks && tick < holdAt_) {
            lock.unlock();
            betweenTicks(tick);
            lock.lock();
        }
        changed_.notify_all();
        changed_.wait(lock, [&] { return tick < holdAt_ || released_; });
    }

    // The worker is to be held at the end of the given tick; set before the worker starts.
    void HoldAt(int tick) {
        std::lock_guard lock(mutex_);
        holdAt_ = tick;
    }
    // Waits (bounded by real time) until the worker is held.
    bool WaitUntilHeld(int timeoutMs = 60000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return static_cast<int>(logs_.size()) >= holdAt_; });
    }
    // Lets the worker run on, through every later sleep.
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    // Pelorix.log as it stood after the given tick (from 1); empty before it.
    std::string LogAfter(int tick) {
        std::lock_guard lock(mutex_);
        return tick >= 1 && tick <= static_cast<int>(logs_.size()) ? logs_[static_cast<std::size_t>(tick - 1)]
                                                                   : std::string();
    }

    std::string Log() const { return ReadFile(logFile_); }

    std::function<void(int tick)> betweenTicks;

private:
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    SimulatedClock& clock_;
    const std::string logFile_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> logs_;
    int holdAt_ = 1 << 30;
    bool released_ = false;
};

// The service module, whose worker runs the command after a publication with the given runner
// (null: a runner of its own, as in the program).
class SimulatedModule final : public TPelorixService {
public:
    SimulatedModule(const std::string& programDir, IClock& clock, ISleeper& sleeper, ICommandRunner* commands)
        : TPelorixService(programDir, clock, SystemHostAddresses::Instance(), &sleeper), commands_(commands) {
    }

protected:
    std::unique_ptr<TPeloThread> MakeWorker() override {
        return std::make_unique<TPeloThread>(*this, Clock, Sleeper(), HostSource, commands_);
    }

private:
    ICommandRunner* commands_;
};

// The service module on a program directory (Latin-1 text ending in '/', as the program
// finds its own), with the system's host addresses.
class SimulatedService {
public:
    explicit SimulatedService(const std::string& programDir, ICommandRunner* commands = nullptr)
        : sleeper(clock, FileSystemName(programDir + "Pelorix.log")),
          service(programDir, clock, sleeper, commands) {}
    ~SimulatedService() { sleeper.Release(); }
    SimulatedService(const SimulatedService&) = delete;
    SimulatedService& operator=(const SimulatedService&) = delete;

    // Starts the service, lets its worker run the given number of ticks (the first check
    // comes in the first) and stops the service at the end of the last one. False when the
    // worker did not get there.
    bool Run(int ticks) {
        sleeper.HoldAt(ticks);
        bool started = false;
        service.ServiceStart(started);
        if (!started || !service.Worker())
            return false;
        const bool reached = sleeper.WaitUntilHeld();
        bool stopped = false;
        service.ServiceStop(stopped);
        sleeper.Release();
        return reached && service.WaitForWorkerEnd(10000);
    }

    std::string LogAfter(int tick) { return sleeper.LogAfter(tick); }
    // Pelorix.log as it stands now.
    std::string Log() const { return sleeper.Log(); }

    SimulatedClock clock;
    SimulatedSleeper sleeper;
    SimulatedModule service;
};

} // namespace pelorix::test
