#include "svc/AddressScan.h"

#include "net/InternetSession.h"
#include "svc/ServiceHelpers.h"

#include "base/Latin1.h"
#include "net/SimpSock.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace pelorix {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

bool InByteRange(int n) {
    return n >= 0 && n <= 255;
}

void DropFirst(std::string_view& t) {
    if (!t.empty())
        t.remove_prefix(1);
}

// Reads the next number up to the next dot: false (with the first character dropped) when
// there is no dot further on, the dot comes first, or the text before it is no integer.
bool TakeNumber(std::string_view& t, int& value) {
    const std::size_t dot = t.find('.');
    if (dot == std::string_view::npos || dot == 0 || !ScanInteger(t.substr(0, dot), value)) {
        DropFirst(t);
        return false;
    }
    t.remove_prefix(dot + 1);
    return true;
}

// The value of the longest start of t, at most three characters long, that is an integer.
int LastNumber(std::string_view t) {
    int d = 256;
    for (std::size_t k = 1; k <= 3; ++k) {
        int value = 0;
        if (ScanInteger(t.substr(0, k), value))
            d = value;
    }
    return d;
}

// One pass of the scan; true when t started with an address, which is then in numbers.
// Every path shortens t, so the passes come to an end.
bool ScanPass(std::string_view& t, std::array<int, 4>& numbers) {
    // Move to at most three characters before the first dot; without a dot only the last
    // character remains.
    std::size_t dot = t.find('.');
    if (dot == std::string_view::npos)
        t.remove_prefix(t.size() - 1);
    else if (dot > 3)
        t.remove_prefix(dot - 3);

    dot = t.find('.');
    if (dot == std::string_view::npos || dot == 0) {
        DropFirst(t);
        return false;
    }
    if (!IsDigit(t[dot - 1]) || dot + 1 >= t.size() || !IsDigit(t[dot + 1])) {
        t.remove_prefix(dot + 1);
        return false;
    }
    // A blank in front of the number goes with everything before it.
    const std::size_t blank = t.substr(0, dot).find(' ');
    if (blank != std::string_view::npos)
        t.remove_prefix(blank + 1);

    auto& [a, b, c, d] = numbers;
    if (!TakeNumber(t, a) || !TakeNumber(t, b) || !TakeNumber(t, c))
        return false;
    d = LastNumber(t);
    return InByteRange(a) && InByteRange(b) && InByteRange(c) && InByteRange(d);
}

} // namespace

bool ScanInteger(std::string_view text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    long long n = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return false;
        n = n * 10 + (text[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    n = negative ? -n : n;
    if (n > INT_MAX)
        return false;
    value = static_cast<int>(n);
    return true;
}

std::optional<std::array<int, 4>> ScanAddress(std::string_view answer) {
    std::string_view t = answer;
    // The body starts with the CR LF of the empty line after the headers.
    const std::size_t headerEnd = answer.find("\n\r\n");
    if (headerEnd != std::string_view::npos)
        t = answer.substr(headerEnd + 1);
    t = t.substr(0, kScanLimit);

    std::array<int, 4> numbers{256, 256, 256, 256};
    while (t.size() >= 3)
        if (ScanPass(t, numbers))
            return numbers;
    return std::nullopt;
}

std::string FormatAddress(const std::array<int, 4>& numbers) {
    char text[48];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", numbers[0], numbers[1], numbers[2], numbers[3]);
    return text;
}

std::string FindAddressInAnswer(std::string_view answer) {
    const auto numbers = ScanAddress(answer);
    return numbers ? FormatAddress(*numbers) : std::string();
}

bool SplitAddressSource(std::string_view page, std::string& host, std::string& path) {
    const std::size_t slash = page.find('/');
    if (slash == std::string_view::npos || slash < 2) {
        host.clear();
        path.clear();
        return false;
    }
    host = page.substr(0, slash);
    path = page.substr(slash);
    return true;
}

bool SplitSourceScheme(std::string& page) {
    constexpr std::string_view kHttps = "https://";
    constexpr std::string_view kHttp = "http://";
    if (page.rfind(kHttps, 0) == 0) {
        page.erase(0, kHttps.size());
        return true;
    }
    if (page.rfind(kHttp, 0) == 0)
        page.erase(0, kHttp.size());
    return false;
}

AddressQueryResult QueryAddressPageHttps(const std::string& host, const std::string& path,
                                         TrustDecision& refusal, std::string& reason, bool inHelper,
                                         AnswerScanner scan) {
    AddressQueryResult result;
    refusal = {};
    reason.clear();
    if (host.size() < 2 || path.empty()) {
        result.outcome = AddressQueryOutcome::BadParameters;
        return result;
    }
    const std::string url = "https://" + host + path;
    std::optional<HttpsFetchResult> fetched;
    if (inHelper) {
        fetched = FetchHttpsInHelper(url);
    } else {
        fetched.emplace();
        fetched->Fetched = wininet::FetchHttps(url, kHttpsFetchLimitMs, kHttpsFetchMaxBytes,
                                               fetched->Response, fetched->Error, fetched->Reason);
        fetched->UntrustedKey = fetched->Fetched ? std::string() : wininet::LastUntrustedKey();
        fetched->Refusal = fetched->Fetched ? TrustDecision{} : wininet::LastRefusal();
    }
    if (!fetched) {
        result.outcome = AddressQueryOutcome::NoNetwork;
        return result;
    }
    reason = fetched->Reason;
    refusal = fetched->Refusal;
    if (refusal.SeenKey().empty())
        refusal.Certificate.Pin = fetched->UntrustedKey;
    if (fetched->Fetched) {
        result.address = scan(fetched->Response);
        if (fetched->Response.empty())
            result.outcome = AddressQueryOutcome::EmptyAnswer;
        else
            result.outcome =
                result.address.empty() ? AddressQueryOutcome::NoAddress : AddressQueryOutcome::Found;
        return result;
    }
    switch (fetched->Error) {
    case wininet::kErrorInternetCannotConnect:
        result.outcome = AddressQueryOutcome::Unreachable;
        break;
    case wininet::kErrorInternetTimeout:
        result.outcome = AddressQueryOutcome::TimedOut;
        break;
    case wininet::kErrorInternetNameNotResolved:
        result.outcome = AddressQueryOutcome::NoNetwork;
        break;
    case wininet::kErrorNotSupported:
        result.outcome = AddressQueryOutcome::Unavailable;
        break;
    default:
        result.outcome = AddressQueryOutcome::Refused;
        break;
    }
    return result;
}

AddressQueryResult QueryAddressPage(const std::string& host, const std::string& path, int port,
                                    int connectTimeoutMs, int receiveTimeoutMs, int deadlineMs,
                                    AnswerScanner scan) {
    AddressQueryResult result;
    try {
        TSimpSock sock;
        sock.Host = host;
        sock.Data = path;
        sock.HttpPort = port;
        sock.ConnectTimeoutMs = connectTimeoutMs;
        sock.ReceiveTimeoutMs = receiveTimeoutMs;
        sock.HttpDeadlineMs = deadlineMs;
        switch (sock.GetHTTP()) {
        case TSimpSock::kOk:
            if (sock.Data.empty()) {
                result.outcome = AddressQueryOutcome::EmptyAnswer;
            } else {
                result.address = scan(sock.Data);
                result.outcome =
                    result.address.empty() ? AddressQueryOutcome::NoAddress : AddressQueryOutcome::Found;
            }
            break;
        case TSimpSock::kUnreachable:
            result.outcome = AddressQueryOutcome::Unreachable;
            break;
        case TSimpSock::kTimedOut:
            result.outcome = AddressQueryOutcome::TimedOut;
            break;
        case TSimpSock::kBadParameters:
            result.outcome = AddressQueryOutcome::BadParameters;
            break;
        default:
            result.outcome = AddressQueryOutcome::NoNetwork;
            break;
        }
    } catch (...) {
        result = {AddressQueryOutcome::NoNetwork, {}};
    }
    return result;
}

HostAddressCheck CompareHostAddresses(const std::vector<std::string>& previous,
                                      const std::vector<std::string>& current) {
    const std::string determined = "+IP-Adresse ermittelt als: ";
    const std::string gone = "+IP-Adresse aufgegeben: ";
    HostAddressCheck check;

    if (current.size() == previous.size()) {
        bool unchanged = true;
        if (current != previous) {
            for (const std::string& address : current) {
                if (Contains(previous, address))
                    continue;
                unchanged = false;
                for (const std::string& old : previous)
                    if (!Contains(current, old))
                        check.messages.push_back(gone + old);
                check.messages.push_back(determined + address);
                // A lone loopback address means the connection went down: nothing to probe.
                if (!(current.size() == 1 && current.front() == "127.0.0.1"))
                    check.probe = true;
            }
        }
        if (unchanged)
            check.messages.push_back("+IP-Adresse(n) unverändert"_l1);
    } else if (current.size() > previous.size()) {
        for (const std::string& address : current)
            if (!Contains(previous, address))
                check.messages.push_back(determined + address);
        check.probe = true;
    } else {
        const std::string* lastGone = nullptr;
        for (const std::string& old : previous)
            if (!Contains(current, old))
                lastGone = &old;
        if (lastGone)
            check.messages.push_back(gone + *lastGone);
    }
    return check;
}

} // namespace pelorix
