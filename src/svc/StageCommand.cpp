// The user's command after a publication: OnPublish with the page's placeholders filled in,
// run through the shell and waited for. Its outcome is only reported; the publication stands.

#include "base/Latin1.h"
#include "svc/PageFill.h"
#include "svc/Pelorix_Main.h"

namespace pelorix {

namespace {

// A shell that cannot find or run the command says so by these codes.
constexpr int kShellNotFound = 127;
constexpr int kShellCannotRun = 126;

std::string OutcomeLine(const CommandResult& result) {
    switch (result.Outcome) {
    case CommandOutcome::Exited:
        if (result.ExitCode == 0)
            return "+Befehl ausgeführt"_l1;
        if (result.ExitCode == kShellNotFound || result.ExitCode == kShellCannotRun)
            return "-Befehl nicht ausführbar"_l1;
        return "-Befehl gescheitert (Code " + std::to_string(result.ExitCode) + ")";
    case CommandOutcome::TimedOut:
        return "-Befehl abgebrochen (Zeitlimit)";
    case CommandOutcome::Stopped:
        return "-Befehl abgebrochen (Dienstende)";
    case CommandOutcome::NotStarted:
        break;
    }
    return "-Befehl nicht ausführbar"_l1;
}

} // namespace

void TPeloThread::RunPublishCommand(const std::string& previousIP, const std::string& previousIP6) {
    if (Service.OnPublish.empty())
        return;
    CommandRequest request;
    // The addresses are checked addresses (dotted, or hex groups and colons): nothing in them
    // means anything to the shell.
    request.CommandLine = TPageFiller(PublishedIP, Clock)
                              .WithIPv6(PublishedIP6, Service.IPv6.Mode())
                              .FillLine(Service.OnPublish);
    request.WorkDir = ProgramDir;
    request.Environment = {{"PELORIX_IP", PublishedIP}, {"PELORIX_OLD_IP", previousIP}};
    if (Service.IPv6.On()) {
        request.Environment.push_back({"PELORIX_IP6", PublishedIP6});
        request.Environment.push_back({"PELORIX_OLD_IP6", previousIP6});
    }
    request.TimeLimitMs = CommandLimitMs;
    const CommandResult result = commands_->Run(request);
    LogStatus(result.Outcome == CommandOutcome::Exited && result.ExitCode == 0 ? 3 : 1, OutcomeLine(result));
    for (const std::string& line : result.Output)
        LogStatus(4, "+> " + line);
}

} // namespace pelorix
