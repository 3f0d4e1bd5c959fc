#include "mgrcore/Interval.h"

#include <climits>
#include <cstdio>

namespace pelorix {

namespace {

// Beyond this many minutes the count of ten-second units would not fit the setting.
constexpr std::int64_t kMaxIntervalMinutes = (INT32_MAX - 5) / 6 - 1;

std::string FormatInterval(std::int64_t minutes, std::int64_t tens) {
    char text[48];
    std::snprintf(text, sizeof text, "%3lld:%lld0", static_cast<long long>(minutes),
                  static_cast<long long>(tens));
    return text;
}

// A decimal integer with leading blanks and an optional sign; nothing may follow the digits.
bool ParseInteger(std::string_view text, std::int64_t& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return false;
    std::int64_t result = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (text[i] - '0');
        if (result > INT32_MAX)
            return false;
    }
    value = negative ? -result : result;
    return true;
}

} // namespace

std::string IntervalText(std::int32_t units) {
    return FormatInterval(units / 6, units % 6);
}

Interval IntervalFromText(std::string_view text) {
    const std::size_t colon = text.find(':');
    const std::string_view minutesText = colon == std::string_view::npos ? text : text.substr(0, colon);
    const std::string_view secondsText =
        colon == std::string_view::npos ? std::string_view("00") : text.substr(colon + 1, 2);
    std::int64_t minutes = 0;
    if (!ParseInteger(minutesText, minutes) || minutes > kMaxIntervalMinutes ||
        minutes < -kMaxIntervalMinutes)
        minutes = 10;
    std::int64_t seconds = 0;
    if (!ParseInteger(secondsText, seconds))
        seconds = 0;
    std::int64_t tens = 0;
    if (seconds >= 55) {
        ++minutes;
        tens = 0;
    } else {
        tens = (seconds + 5) / 10;
    }
    if (minutes == 0 && tens == 0)
        tens = 1; // the shortest interval is ten seconds
    return {static_cast<std::int32_t>(minutes * 6 + tens), FormatInterval(minutes, tens)};
}

} // namespace pelorix
