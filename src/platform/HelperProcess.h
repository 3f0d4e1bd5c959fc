#pragma once
// Work that loads heavy or hostile-facing libraries (the FTP engine with its TLS and SSH stacks,
// the TLS library of the mail clients) runs in a helper: a fresh instance of the calling
// program, started through the child-process launcher (CreateProcess on Windows, inside a job
// that ends it with the caller) with a helper switch. A fresh program rather than a bare fork,
// because a child forked from a threaded process may only make async-signal-safe calls until
// it execs. The request goes to the helper's standard input, the answer comes back on its
// standard output; a crash the helper suffers, and the memory its libraries pin, leave with it.

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pelorix {

// The switch that starts a program as helper: SWITCH VERB CALLER-PID.
inline constexpr const char* kHelperSwitch = "--pelorix-helper";
// Requests and answers are a few kilobytes; a helper that sends more is not a helper of ours.
inline constexpr std::size_t kMaxMessage = 16u << 20;

// One kind of work a program offers as helper: the request bytes in, the answer bytes out.
using HelperWork = std::string (*)(const std::string& request);
struct HelperVerb {
    const char* Name;
    HelperWork Work;
};

// The first thing main() calls: when the program was started as a helper, runs the verb named
// on the command line with its standard input as request and gives the process's exit code;
// otherwise nullopt and main goes on as usual.
std::optional<int> RunHelperIfAsked(int argc, char** argv, std::span<const HelperVerb> verbs);

// The helper's side of RunHelperIfAsked, the same on every system: runs the named verb on the
// request readRequest gives and hands its answer to writeAnswer. 0 when answered, 1 when the
// request could not be read, the work failed or the answer not written, 2 for an unknown verb.
int RunHelperVerb(const char* name, std::span<const HelperVerb> verbs,
                  std::optional<std::string> (*readRequest)(), bool (*writeAnswer)(const std::string&));

// Starts a helper for verb, hands it the request and waits at most limit for its answer. The
// helper is killed when the limit passes, and when the calling thread ends. nullopt when no
// helper could be started, it died or failed, or it did not answer in time.
std::optional<std::string> RunInHelperProcess(const std::string& verb, const std::string& request,
                                              std::chrono::milliseconds limit);

// The program started as helper: the running program's own file unless a test points
// elsewhere (empty restores the own file). ChosenHelperProgram gives what was set, empty for
// the own file, which each system finds in its own way.
void SetHelperProgram(std::string path);
std::string ChosenHelperProgram();

// Requests and answers as a list of fields, each with its length in front, so any byte may
// stand in a field.
std::string PackFields(const std::vector<std::string>& fields);
std::optional<std::vector<std::string>> UnpackFields(const std::string& bytes);

} // namespace pelorix
