#pragma once
// The trust of every connection type the user has used with a server, so switching between
// them (FTPS and SFTP, say) keeps each: entries "MODE HOST PORT KEY" separated by ";", as kept
// under FTPTrustKept. FTPTrust itself always holds the trust of the chosen type.

#include <string>

namespace pelorix {

// The key kept for the connection type (FTPMode), host and port; empty when none.
std::string KeptTrustFor(const std::string& kept, int mode, const std::string& host, int port);
// The list with the key for mode, host and port replaced (an empty key removes it).
std::string WithKeptTrust(const std::string& kept, int mode, const std::string& host, int port,
                          const std::string& key);

} // namespace pelorix
