#include "svc/Placeholders.h"

#include <utility>

namespace pelorix {

namespace {

std::string ReplaceEach(std::string_view text, std::string_view placeholder,
                        const PlaceholderSet::MakeValue& makeValue) {
    if (placeholder.empty())
        return std::string(text);
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = text.find(placeholder); at != std::string_view::npos;
         at = text.find(placeholder, from)) {
        out.append(text.substr(from, at - from));
        out += makeValue();
        from = at + placeholder.size();
    }
    out.append(text.substr(from));
    return out;
}

} // namespace

PlaceholderSet& PlaceholderSet::Add(std::string placeholder, MakeValue makeValue) {
    entries_.push_back({std::move(placeholder), std::move(makeValue)});
    return *this;
}

std::string PlaceholderSet::Fill(std::string_view text) const {
    std::string filled(text);
    for (const Entry& entry : entries_)
        filled = ReplaceEach(filled, entry.placeholder, entry.makeValue);
    return filled;
}

} // namespace pelorix
