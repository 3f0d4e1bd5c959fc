#include "mail/SimpleMail.h"

#include "mail/MailWire.h"

#include "net/Trust.h"
#include "net/TrustText.h"
#include "platform/TlsChannel.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>

namespace pelorix {

namespace {

unsigned Byte(char c) {
    return static_cast<unsigned char>(c);
}

} // namespace

namespace mailwire {

long ReceiveAppend(TcpSocket& sock, std::string& text, std::size_t maxBytes, int timeoutMs,
                   std::size_t limit) {
    std::array<char, 4096> buffer{};
    if (maxBytes > buffer.size())
        maxBytes = buffer.size();
    std::size_t received = 0;
    switch (sock.Receive(buffer.data(), maxBytes, timeoutMs, received)) {
    case TcpResult::Ok:
        if (text.size() + received > limit)
            throw Oversized{};
        text.append(buffer.data(), received);
        return static_cast<long>(received);
    case TcpResult::Closed:
        return 0;
    case TcpResult::Timeout:
        throw Silence{};
    default:
        return -1;
    }
}

long SendBytes(TcpSocket& sock, const std::string& bytes, int timeoutMs) {
    switch (sock.SendAll(bytes, timeoutMs)) {
    case TcpResult::Ok:
        return static_cast<long>(bytes.size());
    case TcpResult::Timeout:
        throw Silence{};
    default:
        return -1;
    }
}

std::string ReceiveLine(TcpSocket& sock, int timeoutMs) {
    std::string reply;
    long got = 0;
    std::size_t searched = 0;
    do {
        searched = reply.size();
        got = ReceiveAppend(sock, reply, 1022, timeoutMs, kMaxLineReplyBytes);
    } while (reply.find('\n', searched) == std::string::npos && got > 0);
    return reply;
}

bool SecureConnection(TcpSocket& sock, const std::string& host, const std::string& trust, int timeoutMs,
                      const std::string& failLine, std::string& line, std::string& seenPin) {
    line.clear();
    seenPin.clear();
    const TrustSetting setting = ParseTrust(trust);
    TrustDecision decision;
    const CertificateCheck check = [&](const std::vector<std::string>& chain) {
        decision = CheckCertificateChain(chain, host, setting);
        seenPin = decision.Certificate.Pin;
        return decision.Accepted();
    };
    switch (sock.StartTls(host, check, timeoutMs)) {
    case TlsStartResult::Ok:
        return true;
    case TlsStartResult::Timeout:
        throw Silence{};
    case TlsStartResult::Untrusted:
        line = RefusalLine(decision);
        return false;
    case TlsStartResult::Unavailable:
        line = UnavailableConnectionLine();
        return false;
    default:
        line = failLine;
        return false;
    }
}

void AppendSummaryLine(const std::string& file, const std::string& line) {
    if (file.empty())
        return;
    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (out)
        out << line << "\r\n";
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace mailwire

MailSecurity ParseMailSecurity(std::string_view text) {
    const std::string word = mailwire::UpperAscii(std::string(text));
    if (word == "STARTTLS")
        return MailSecurity::StartTls;
    if (word == "TLS")
        return MailSecurity::Tls;
    return MailSecurity::None;
}

std::string MailSecurityText(MailSecurity security) {
    switch (security) {
    case MailSecurity::StartTls:
        return "starttls";
    case MailSecurity::Tls:
        return "tls";
    default:
        return "none";
    }
}

std::uint16_t SmtpPortFor(MailSecurity security, int configured) {
    if (configured > 0 && configured <= 65535)
        return static_cast<std::uint16_t>(configured);
    return security == MailSecurity::Tls ? 465 : security == MailSecurity::StartTls ? 587 : kSmtpPort;
}

std::uint16_t Pop3PortFor(MailSecurity security, int configured) {
    if (configured > 0 && configured <= 65535)
        return static_cast<std::uint16_t>(configured);
    return security == MailSecurity::Tls ? 995 : kPop3Port;
}

std::string InsecureMailLine() {
    return "-Mailversand gescheitert: Verbindung nicht sicher";
}

std::string InsecurePop3Line() {
    return "-POP3-Check gescheitert: Verbindung nicht sicher";
}

std::string WrapMailLine(std::string_view line) {
    // Indices are 0-based here: the character examined is s[i]; lastBlank and pieceStart
    // are positions in the changed text, npos meaning "none yet".
    std::string s(line);
    constexpr std::size_t none = std::string::npos;
    std::size_t lastBlank = none;
    std::size_t pieceStart = 0;
    int col = 1;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == ' ')
            lastBlank = i;
        if (s[i] == '\r') {
            col = 1;
            pieceStart = i + 1;
        } else {
            ++col;
        }
        if (col < 80)
            continue;
        col = 1;
        if (lastBlank != none && lastBlank >= pieceStart) {
            // Behind the last blank of this piece; the blank stays at the end of the piece.
            s.insert(lastBlank + 1, "\r\n");
            pieceStart = lastBlank + 3;
        } else {
            // No blank in this piece: break hard after its 79th character and go on behind
            // the inserted line break.
            s.insert(i + 1, "\r\n");
            i += 2;
            pieceStart = i + 1;
        }
    }
    return s;
}

namespace {

// A word a reader would misread unless it is encoded: a non-ASCII byte, or the start of
// something that looks like an encoded word.
bool NeedsEncoding(std::string_view word) {
    return word.find("=?") != std::string_view::npos ||
           std::any_of(word.begin(), word.end(), [](char c) { return Byte(c) >= 128; });
}

// Characters that may stand for themselves in an encoded word in any header (RFC 2047, 5 (3)).
bool IsQLiteral(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
           c == '*' || c == '+' || c == '-' || c == '/';
}

// The text as encoded words of at most 75 characters, separated by single blanks.
std::string EncodedWords(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    static constexpr std::string_view prefix = "=?iso-8859-1?Q?";
    static constexpr std::size_t kRoom = 75 - prefix.size() - 2;
    std::string out;
    std::string word;
    const auto flush = [&] {
        if (!out.empty())
            out += ' ';
        out += std::string(prefix) + word + "?=";
        word.clear();
    };
    for (const char c : text) {
        std::string piece;
        if (c == ' ') {
            piece = "_";
        } else if (IsQLiteral(c)) {
            piece = std::string(1, c);
        } else {
            piece = {'=', hex[Byte(c) >> 4], hex[Byte(c) & 15]};
        }
        // An escape is never split between two words.
        if (word.size() + piece.size() > kRoom)
            flush();
        word += piece;
    }
    if (!word.empty())
        flush();
    return out;
}

std::vector<std::string> SplitAtBlanks(std::string_view text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (std::size_t at = text.find(' '); at != std::string_view::npos; at = text.find(' ', start)) {
        words.emplace_back(text.substr(start, at - start));
        start = at + 1;
    }
    words.emplace_back(text.substr(start));
    return words;
}

} // namespace

std::string EncodeHeaderText(std::string_view text) {
    const std::vector<std::string> words = SplitAtBlanks(text);
    std::string out;
    for (std::size_t i = 0; i < words.size();) {
        if (i > 0)
            out += ' ';
        if (!NeedsEncoding(words[i])) {
            out += words[i++];
            continue;
        }
        // Readers drop the blanks between two encoded words, so neighbouring words that need
        // encoding are encoded together, their blanks inside as "_".
        std::string run = words[i++];
        while (i < words.size() && NeedsEncoding(words[i]))
            run += ' ' + words[i++];
        out += EncodedWords(run);
    }
    return out;
}

std::string FoldHeader(std::string_view name, const std::vector<std::string>& units) {
    constexpr std::size_t kLineLimit = 78;
    std::string out = std::string(name) + ":";
    std::size_t lineLength = out.size();
    const auto append = [&](const std::string& unit) {
        // A continuation line must hold more than the blank, so an empty unit never starts one.
        if (!unit.empty() && lineLength + 1 + unit.size() > kLineLimit) {
            out += "\r\n";
            lineLength = 0;
        }
        out += ' ' + unit;
        lineLength += 1 + unit.size();
    };
    for (const std::string& unit : units) {
        if (unit.size() + 1 <= kLineLimit || unit.find(' ') == std::string::npos) {
            append(unit);
            continue;
        }
        for (const std::string& word : SplitAtBlanks(unit))
            append(word);
    }
    return out;
}

std::vector<std::string> SplitMailLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

TcpSocket MailConnect(const std::string& host, std::uint16_t port, int& code, int connectTimeoutMs) {
    code = 4;
    TcpSocket sock;
    switch (sock.Connect(host, port, connectTimeoutMs)) {
    case TcpResult::Ok:
        code = 0;
        break;
    case TcpResult::ConnectFailed:
    case TcpResult::Timeout:
        code = 3;
        break;
    default:
        break;
    }
    if (code != 0)
        sock.Close();
    return sock;
}

int SendMailCommand(TcpSocket& sock, std::string_view text, int timeoutMs) {
    std::string line(text);
    line += "\r\n";
    return sock.SendAll(line, timeoutMs) == TcpResult::Ok ? static_cast<int>(line.size()) : -1;
}

bool ReadPositiveReply(TcpSocket& sock, int timeoutMs, bool* timedOut) {
    if (timedOut)
        *timedOut = false;
    std::string reply;
    try {
        reply = mailwire::ReceiveLine(sock, timeoutMs);
    } catch (const mailwire::Silence&) {
        if (timedOut)
            *timedOut = true;
        return false;
    }
    return !reply.empty() && reply[0] == '+';
}

} // namespace pelorix
