#pragma once
// Runs one piece of work in a forked child process and hands its answer back as bytes. The
// service uploads its page this way, so the libraries an FTP transfer loads (libcurl with its
// TLS stack, which pins itself in memory) never stay in the long-running service process.

#include <functional>
#include <optional>
#include <string>

namespace pelorix {

// Forks; the child runs work and writes its answer to a pipe, then ends without running any
// of the parent's clean-up. The child is killed when the calling thread ends. nullopt when no
// child could be made or it died without an answer.
std::optional<std::string> RunInChildProcess(const std::function<std::string()>& work);

} // namespace pelorix
