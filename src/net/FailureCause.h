#pragma once
// The causes of the usual connection failures in the words of the status lines. The libraries
// word their failures in English; the lines name the cause in German and keep the library's
// own text only as a detail below.

#include <cstdint>
#include <string>

namespace pelorix {

// The server accepted the connection and then fell silent.
std::string TimeoutCauseText();
// The server speaks another connection type than the one set (TLS against plain, and so on).
std::string WrongConnectionTypeCauseText();
// A reply beyond any sensible size, or one that cannot be read at all.
std::string OversizedReplyCauseText();
// The server's certificate was refused.
std::string CertificateCauseText();

// The cause for a failure with this error number (net/InternetSession.h) and the library's
// text; empty when neither tells one of the causes above.
std::string FailureCause(std::uint32_t error, const std::string& libraryText);

} // namespace pelorix
