#include "platform/Clock.h"

#include "platform/FileSystemName.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace pelorix {

namespace {

// The locale name the C library would take for LC_TIME from the environment.
std::string EnvironmentTimeLocale() {
    for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return "C";
}

// A locale object owned for one look-up.
class LocaleHandle {
public:
    explicit LocaleHandle(const std::string& name)
        : locale_(newlocale(LC_TIME_MASK | LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(0))) {}
    ~LocaleHandle() {
        if (locale_ != static_cast<locale_t>(0))
            freelocale(locale_);
    }
    LocaleHandle(const LocaleHandle&) = delete;
    LocaleHandle& operator=(const LocaleHandle&) = delete;
    locale_t Get() const { return locale_; }

private:
    locale_t locale_;
};

} // namespace

LocalTime SystemClock::Now() const {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.weekday = tm.tm_wday;
    t.utcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
    return t;
}

std::string LocalWeekdayName(int weekday, const std::string& localeName) {
    if (weekday < 0 || weekday > 6)
        return {};
    LocaleHandle locale(localeName.empty() ? EnvironmentTimeLocale() : localeName);
    LocaleHandle fallback("C");
    const locale_t use = locale.Get() != static_cast<locale_t>(0) ? locale.Get() : fallback.Get();
    if (use == static_cast<locale_t>(0))
        return {};
    const std::string name = nl_langinfo_l(static_cast<nl_item>(DAY_1 + weekday), use);
    const std::string codeset = nl_langinfo_l(CODESET, use);
    return codeset == "UTF-8" ? SystemTextOfName(name) : name;
}

} // namespace pelorix
