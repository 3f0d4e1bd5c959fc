#pragma once
// The texts of an FTP dialogue as the connection reads and writes them: reply parsing, paths
// and the host name check. Pure functions; any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace pelorix::wininet {

// The proxy bypass list comes as lines (CR LF, blanks, ";" or "," between names); the names
// joined by separator (libcurl wants ",", WinInet ";").
std::string BypassList(const std::string& bypass, char separator);

// The verb of a command line as sent ("STOR x" → "STOR").
std::string CommandVerb(const char* data, std::size_t size);

bool IsAscii(std::string_view text);

// Whether a FEAT reply lists UTF8 among the features (one per line, indented by a blank).
bool AnnouncesUtf8(const std::string& reply);

// The path of a 257 reply: the text between the first quote and its partner, "" standing for
// one quote inside.
bool ParsePwdReply(const std::string& reply, std::string& path);

// A host name that can stand in a URL as it is (no blanks, controls, separators or brackets).
bool HostIsPlain(const std::string& host);

// current/relative with exactly one separator between.
std::string JoinDirectory(const std::string& current, const std::string& relative);

} // namespace pelorix::wininet
