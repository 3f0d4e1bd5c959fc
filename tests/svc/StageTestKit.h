#pragma once
// A real worker for testing single stages: a service module set up by hand, a fixed clock,
// a host-address source whose list the test sets, and the kept status lines without their
// time stamps.

#include "base/Latin1.h"
#include "svc/Pelorix_Main.h"

#include <memory>
#include <string>
#include <vector>

namespace pelorix::test {

// Monday, 7 December 2026, 22:05:09.
class StageClock final : public IClock {
public:
    LocalTime Now() const override { return time; }
    long long MonotonicMs() const override { return 0; }
    LocalTime time{2026, 12, 7, 22, 5, 9, 1, 60};
};

// The stages never sleep; a worker that did would not wait for real.
class NoSleep final : public ISleeper {
public:
    void SleepMs(int) override {}
};

class ListedHostAddresses final : public IHostAddressSource {
public:
    std::vector<std::string> HostAddresses() const override { return list; }
    std::vector<std::string> list;
};

class StageKit {
public:
    StageKit() : service("/nonexistent/", clock, hosts) {}

    // The worker, created on first use from the module's settings as they stand then.
    TPeloThread& Worker() {
        if (!worker) {
            worker = std::make_unique<TPeloThread>(service, clock, sleeper, hosts);
            worker->MsgLevel = 4;
            worker->MonitorEnabled = false;
            worker->LogToFile = false;
        }
        return *worker;
    }

    // The status lines kept since the last call, without "[hh:nn:ss] ".
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        const std::string log = Worker().TakeLog();
        std::size_t start = 0;
        while (start < log.size()) {
            std::size_t end = log.find("\r\n", start);
            if (end == std::string::npos)
                end = log.size();
            std::string line = log.substr(start, end - start);
            if (line.size() > 11 && line[0] == '[')
                line.erase(0, 11);
            if (!line.empty())
                lines.push_back(line);
            start = end + 2;
        }
        return lines;
    }

    StageClock clock;
    ListedHostAddresses hosts;
    NoSleep sleeper;
    TPelorixService service;
    std::unique_ptr<TPeloThread> worker;
};

} // namespace pelorix::test
