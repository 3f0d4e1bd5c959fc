#pragma once
// Fakes for the service's unit tests: a fixed clock, an empty host-address source, a sleeper
// that counts ticks and can end the worker, one that holds the worker in its sleeps, and a
// worker whose stages follow a script.

#include "base/Latin1.h"
#include "svc/Pelorix_Main.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pelorix::test {

class FixedClock final : public IClock {
public:
    LocalTime Now() const override { return time; }
    long long MonotonicMs() const override { return 0; }
    LocalTime time{2026, 12, 7, 22, 5, 9, 1, 60};
};

class NoHostAddresses final : public IHostAddressSource {
public:
    std::vector<std::string> HostAddresses() const override { return {}; }
};

// Counts the tick sleeps; after each one it calls onTick with the number of ticks done, which
// may end the worker. Never sleeps for real.
class TickSleeper final : public ISleeper {
public:
    void SleepMs(int ms) override {
        sleeps.push_back(ms);
        if (ms == TPeloThread::kTickSleepMs) {
            ++ticks;
            if (onTick)
                onTick(ticks);
        } else if (onStartDelay) {
            onStartDelay();
        }
    }
    int ticks = 0;
    std::vector<int> sleeps;
    std::function<void(int)> onTick;
    std::function<void()> onStartDelay;
};

// A worker whose stages are scripted functions of the tick number (the number of tick sleeps
// done before the call) and record each call as "<Stage>@<tick>".
class ScriptedWorker : public TPeloThread {
public:
    using TPeloThread::TPeloThread;
    ~ScriptedWorker() override {
        Terminate();
        WaitFor(5000);
    }

    std::function<int()> tick = [] { return 0; };
    std::function<bool(int)> hosts = [](int) { return false; };
    std::function<bool(int, std::string&)> probe = [](int, std::string&) { return false; };
    std::function<bool(int, std::string&)> query = [](int, std::string& ip) {
        ip = "###";
        return false;
    };
    std::function<bool(int)> generate = [](int) { return true; };
    std::function<bool(int)> upload = [](int) { return true; };

    std::vector<std::string> calls;
    std::vector<std::string> generatedFor; // CurrentIP at each generation
    std::vector<std::string> monitor;      // read it only once the worker's thread has ended

    bool CheckHostAddresses() override { return Record("Hosts", hosts(tick())); }
    bool ProbeFTPAddress() override {
        std::string ip = CurrentIP;
        const bool ok = probe(tick(), ip);
        if (ok)
            CurrentIP = ip;
        return Record("Probe", ok);
    }
    bool QueryAddressSource() override {
        std::string ip = "###";
        const bool ok = query(tick(), ip);
        CurrentIP = ip;
        return Record("Query", ok);
    }
    bool GeneratePages() override {
        generatedFor.push_back(CurrentIP);
        return Record("Generate", generate(tick()));
    }
    bool UploadPage() override { return Record("Upload", upload(tick())); }
    // The control thread sends its stop line while the worker may be sending too.
    void SendToMonitor(const std::string& line) override {
        std::lock_guard lock(monitorMutex_);
        monitor.push_back(line);
    }

    // The ticks at which the named stage ran.
    std::vector<int> TicksOf(const std::string& stage) const {
        std::vector<int> out;
        for (const auto& c : calls)
            if (c.rfind(stage + "@", 0) == 0)
                out.push_back(std::stoi(c.substr(stage.size() + 1)));
        return out;
    }

private:
    std::mutex monitorMutex_;

    bool Record(const std::string& stage, bool result) {
        calls.push_back(stage + "@" + std::to_string(tick()));
        return result;
    }
};

// Lets the worker's thread into a sleep and holds it there: Allow lets it through that many
// sleeps, Open through all of them. Waits are bounded.
class StepSleeper final : public ISleeper {
public:
    void SleepMs(int) override {
        std::unique_lock lock(mutex_);
        ++entered_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return permits_ > 0 || open_; });
        if (!open_)
            --permits_;
    }
    void Allow(int count) {
        std::lock_guard lock(mutex_);
        permits_ += count;
        changed_.notify_all();
    }
    // Waits (bounded) until the worker has entered the given number of sleeps.
    bool WaitEntered(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return entered_ >= count; });
    }
    int Entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    int permits_ = 0;
    bool open_ = false;
};

} // namespace pelorix::test
