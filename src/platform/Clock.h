#pragma once
// The one place that reads the clock and sleeps. Everything that needs the time or a pause
// gets an IClock / ISleeper, so tests run the publishing cycle and time stamps instantly.

#include <chrono>
#include <string>

namespace pelorix {

// Local wall-clock time, broken down.
struct LocalTime {
    int year = 2000;          // e.g. 2026
    int month = 1;            // 1..12
    int day = 1;              // 1..31
    int hour = 0;             // 0..23
    int minute = 0;           // 0..59
    int second = 0;           // 0..59
    int weekday = 6;          // 0 = Sunday .. 6 = Saturday
    int utcOffsetMinutes = 0; // local time minus UTC, e.g. +60 for CET
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual LocalTime Now() const = 0;
    // Monotonic milliseconds, for measuring spans (never jumps with the wall clock).
    virtual long long MonotonicMs() const = 0;
};

class ISleeper {
public:
    virtual ~ISleeper() = default;
    virtual void SleepMs(int ms) = 0;
};

class SystemClock final : public IClock {
public:
    LocalTime Now() const override;
    long long MonotonicMs() const override;
    static SystemClock& Instance();
};

class SystemSleeper final : public ISleeper {
public:
    void SleepMs(int ms) override;
    static SystemSleeper& Instance();
};

// The name of a weekday (0 = Sunday) in the language of a locale, Latin-1. localeName empty:
// the locale the system or the environment sets for dates; an unknown one gives English.
std::string LocalWeekdayName(int weekday, const std::string& localeName);

} // namespace pelorix
