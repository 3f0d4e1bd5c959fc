#include "mail/SimpleMail.h"

#include "mail/MailWire.h"

#include <array>
#include <cctype>
#include <fstream>

namespace pelorix {

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

unsigned Byte(char c) {
    return static_cast<unsigned char>(c);
}

int Base64Value(char c) {
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    return 0;
}

} // namespace

namespace mailwire {

long ReceiveAppend(TcpSocket& sock, std::string& text, std::size_t maxBytes, int timeoutMs) {
    std::array<char, 4096> buffer{};
    if (maxBytes > buffer.size())
        maxBytes = buffer.size();
    std::size_t received = 0;
    switch (sock.Receive(buffer.data(), maxBytes, timeoutMs, received)) {
    case TcpResult::Ok:
        if (text.size() + received > kMaxReplyBytes)
            throw Silence{};
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
        got = ReceiveAppend(sock, reply, 1022, timeoutMs);
    } while (reply.find('\n', searched) == std::string::npos && got > 0);
    return reply;
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

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = Byte(bytes[i]) << 16 | Byte(bytes[i + 1]) << 8 | Byte(bytes[i + 2]);
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += kBase64Alphabet[v >> 6 & 63];
        out += kBase64Alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const unsigned v = Byte(bytes[i]) << 16;
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += "==";
    } else if (rest == 2) {
        const unsigned v = Byte(bytes[i]) << 16 | Byte(bytes[i + 1]) << 8;
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += kBase64Alphabet[v >> 6 & 63];
        out += '=';
    }
    return out;
}

std::string DecodeBase64(std::string_view text) {
    std::string out;
    unsigned accumulator = 0;
    int bits = 0;
    for (const char c : text) {
        if (Byte(c) <= 20 || c == '=')
            continue;
        accumulator = (accumulator * 64 + static_cast<unsigned>(Base64Value(c))) % 65536;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((accumulator >> bits) % 256);
        }
    }
    return out;
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

std::string EncodeHeaderText(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    static constexpr std::string_view prefix = "=?iso-8859-1?Q?";
    constexpr std::size_t none = std::string::npos;
    std::string r;
    bool inWord = false;
    std::size_t wordStart = 0;
    // Where the blank behind the last closed encoded word stands, while it is the only thing
    // between that word and the current one.
    std::size_t closedAt = none;
    for (const char c : text) {
        if (Byte(c) >= 128) {
            if (!inWord) {
                if (closedAt != none && wordStart == closedAt + 1) {
                    // Readers drop the blank between two encoded words, so the two words
                    // become one, with the blank encoded as "_".
                    r.replace(closedAt - 2, 3, "_");
                } else {
                    r.insert(wordStart, prefix);
                }
                inWord = true;
            }
            r += '=';
            r += hex[Byte(c) >> 4];
            r += hex[Byte(c) & 15];
        } else if (c == ' ') {
            closedAt = none;
            if (inWord) {
                r += "?=";
                inWord = false;
                closedAt = r.size();
            }
            // The next word starts behind this blank.
            wordStart = r.size() + 1;
            r += ' ';
        } else {
            r += c;
        }
    }
    if (inWord)
        r += "?=";
    return r;
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
