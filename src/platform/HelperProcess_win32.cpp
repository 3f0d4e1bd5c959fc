#include "platform/HelperProcess.h"

namespace pelorix {

// STUB
std::optional<int> RunHelperIfAsked(int, char**, std::span<const HelperVerb>) {
    return std::nullopt;
}
std::optional<std::string> RunInHelperProcess(const std::string&, const std::string&,
                                              std::chrono::milliseconds) {
    return std::nullopt;
}
void SetHelperProgram(std::string) {}

} // namespace pelorix
