#pragma once
// The one way placeholders ("%IP%", "%Date%", "%Time%") are filled into the pages and the
// mail's subject and text. Each of them names its own placeholders, in its own order, with
// values in its own formats; the replacing is the same for all: placeholder after placeholder
// in the order added, each one's occurrences left to right (exactly that letter case), a value
// made afresh for every occurrence (so a clock is read anew each time), and the search going
// on behind each inserted value, so a value holding its own placeholder is inserted once.
// A value may hold a placeholder added later, which is then filled too.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

class PlaceholderSet {
public:
    using MakeValue = std::function<std::string()>;

    PlaceholderSet& Add(std::string placeholder, MakeValue makeValue);
    std::string Fill(std::string_view text) const;

private:
    struct Entry {
        std::string placeholder;
        MakeValue makeValue;
    };
    std::vector<Entry> entries_;
};

} // namespace pelorix
