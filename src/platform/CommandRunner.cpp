#include "platform/CommandRunner.h"

namespace pelorix {

// ---------------------------------------------------------------------------------------------
// TOutputLines

void TOutputLines::Add(std::string_view bytes) {
    for (const char c : bytes) {
        if (lines_.size() >= kMaxLines)
            return;
        if (c == '\n') {
            EndLine();
            continue;
        }
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F)
            continue;
        if (current_.size() < kMaxLength)
            current_.push_back(c);
    }
}

void TOutputLines::EndLine() {
    if (!current_.empty() && lines_.size() < kMaxLines)
        lines_.push_back(current_);
    current_.clear();
}

std::vector<std::string> TOutputLines::Finish() {
    EndLine();
    return std::move(lines_);
}

// ---------------------------------------------------------------------------------------------
// TShellCommandRunner

} // namespace pelorix
