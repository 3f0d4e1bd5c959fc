#include "platform/Clock.h"

#include <windows.h>

namespace pelorix {

LocalTime SystemClock::Now() const {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.weekday = st.wDayOfWeek;
    // Bias is UTC minus local time in minutes, the daylight bias added while it applies.
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = ::GetTimeZoneInformation(&zone);
    long bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (which == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    t.utcOffsetMinutes = static_cast<int>(-bias);
    return t;
}

std::string LocalWeekdayName(int weekday, const std::string& localeName) {
    if (weekday < 0 || weekday > 6)
        return {};
    // The system's table starts its week on Monday (LOCALE_SDAYNAME1) and ends on Sunday.
    const LCTYPE item = LOCALE_SDAYNAME1 + static_cast<LCTYPE>((weekday + 6) % 7);
    LCID locale = LOCALE_USER_DEFAULT;
    if (!localeName.empty()) {
        // A name such as "de-DE"; one the system does not know gives English.
        wchar_t wide[LOCALE_NAME_MAX_LENGTH] = {};
        const int n = ::MultiByteToWideChar(CP_ACP, 0, localeName.c_str(), -1, wide, LOCALE_NAME_MAX_LENGTH);
        locale = n > 0 ? ::LocaleNameToLCID(wide, 0) : 0;
        if (locale == 0)
            locale = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
    }
    char name[80] = {};
    // The ANSI text of the Western European code page is the system's Latin-1 text.
    if (::GetLocaleInfoA(locale, item, name, sizeof name) <= 0)
        return {};
    return name;
}

} // namespace pelorix
