#pragma once
// The check interval as the manager shows it: minutes and tens of seconds, "%3d:%d0" (30 units
// give "  5:00"), and the text a user typed turned back into a count of ten-second units.

#include <cstdint>
#include <string>
#include <string_view>

namespace pelorix {

std::string IntervalText(std::int32_t units);

struct Interval {
    std::int32_t Units = 0;
    std::string Text; // the field's new text
};

// Minutes before the first ":", up to two digits of seconds after it (rounded to tens; 55 and
// more make a full minute); a minutes text that is no integer gives 10, a seconds text that is
// none gives 0; ten seconds at the least.
Interval IntervalFromText(std::string_view text);

} // namespace pelorix
