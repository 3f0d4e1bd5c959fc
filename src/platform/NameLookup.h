#pragma once
// Name look-ups within the calling thread's network deadline. The system's resolver call blocks
// for as long as its name servers let it (minutes, when one never answers) and cannot be
// cancelled, so with a deadline it runs on a thread of its own that the caller gives up at the
// deadline; the abandoned look-up ends in the background, however late. At most
// kMaxRunningLookUps run at once, so stalled look-ups in a row never pile up threads or
// sockets: a further one waits for a place, again only until its deadline.

#include <functional>
#include <optional>
#include <string>

namespace pelorix {

inline constexpr int kMaxRunningLookUps = 4;

// lookUp's result, or nullopt when the calling thread's deadline passed first (also before it
// could start). Without a deadline lookUp runs on the calling thread.
std::optional<std::string> LookUpWithinDeadline(std::function<std::optional<std::string>()> lookUp);

// The system's blocking look-ups (getaddrinfo, AF_INET; one file per system): the dotted
// address of host, numericOnly asking the resolver for nothing; the canonical name of name.
std::optional<std::string> SystemLookUpIPv4(const std::string& host, bool numericOnly);
std::optional<std::string> SystemCanonicalName(const std::string& name);

} // namespace pelorix
