#pragma once
// The pure logic of address determination: the scan of an address-source answer for the
// first dotted address, and the comparison of the host's address list with the previous one.
// Used by the worker's address stages and by the manager's address display. No state.

#include "net/Trust.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

// The longest part of an answer that the scan looks at.
inline constexpr std::size_t kScanLimit = 99999;

// Integer conversion of the scan: optional leading blanks, an optional sign, decimal digits
// and nothing else; false for anything else and for values beyond 32 bits.
bool ScanInteger(std::string_view text, int& value);

// The four numbers of the first dotted address in the body of an HTTP answer (the text after
// the empty line that ends the headers, or all of it when there is none). Only addresses whose
// four numbers lie in 0..255 count; other candidates are passed over.
std::optional<std::array<int, 4>> ScanAddress(std::string_view answer);

// "%d.%d.%d.%d".
std::string FormatAddress(const std::array<int, 4>& numbers);

// The scan and the formatting in one: the dotted address, or empty when there is none.
std::string FindAddressInAnswer(std::string_view answer);

// How a query of an address-source page ended.
enum class AddressQueryOutcome {
    Found,         // address holds the first dotted address of the answer
    NoAddress,     // an answer came, without any address
    EmptyAnswer,   // connected, but the server sent nothing
    Unreachable,   // nothing accepted the connection
    TimedOut,      // the server accepted, and its answer did not end in time
    NoNetwork,     // the name did not resolve, or another network failure
    BadParameters, // host shorter than 2 characters, or no path
    Refused,       // HTTPS: the server's certificate was not trusted, or TLS failed (reason)
    Unavailable    // HTTPS: this system offers no TLS; nothing was sent
};

struct AddressQueryResult {
    AddressQueryOutcome outcome = AddressQueryOutcome::NoNetwork;
    std::string address;
};

// Splits an address-source setting ("host/path") at its first "/": the host before it (at
// least 2 characters) and the path from it on; false, with both empty, when there is no such split.
bool SplitAddressSource(std::string_view page, std::string& host, std::string& path);

// Removes a leading "https://" or "http://" from an address-source setting; true for https.
bool SplitSourceScheme(std::string& page);

// What a query looks for in the answer: FindAddressInAnswer, or the IPv6 scan.
using AnswerScanner = std::string (*)(std::string_view answer);

// The address-source page fetched over HTTPS (in a helper process) and scanned like the plain
// one. refusal gets what a refused server showed and why; reason libcurl's text of a failure.
// inHelper false fetches in the calling program (the manager, which loads libcurl anyway).
AddressQueryResult QueryAddressPageHttps(const std::string& host, const std::string& path,
                                         TrustDecision& refusal, std::string& reason, bool inHelper = true,
                                         AnswerScanner scan = FindAddressInAnswer);

// Fetches host + path (an HTTP/1.0 GET on port 80 unless another is given) and scans the
// answer. Each wait is bounded by its limit and the whole exchange by deadlineMs (an answer not
// complete by then counts as unreachable); never throws.
AddressQueryResult QueryAddressPage(const std::string& host, const std::string& path, int port = 80,
                                    int connectTimeoutMs = 20000, int receiveTimeoutMs = 30000,
                                    int deadlineMs = 60000, AnswerScanner scan = FindAddressInAnswer);

// What a check of the host's addresses reports, in order, and whether the public address has
// to be probed again.
struct HostAddressCheck {
    bool probe = false;
    std::vector<std::string> messages;
};

// Compares the host's addresses of this check with those of the previous one.
HostAddressCheck CompareHostAddresses(const std::vector<std::string>& previous,
                                      const std::vector<std::string>& current);

} // namespace pelorix
