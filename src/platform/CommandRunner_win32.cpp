#include "platform/CommandRunner.h"

namespace pelorix {

// STUB: to be replaced by CreateProcess of cmd.exe.
TShellCommandRunner::TShellCommandRunner(const IClock& clock, bool refuseRoot)
    : clock_(clock), refuseRoot_(refuseRoot) {}
void TShellCommandRunner::Stop() {}
CommandResult TShellCommandRunner::Run(const CommandRequest&) {
    return {};
}

} // namespace pelorix
