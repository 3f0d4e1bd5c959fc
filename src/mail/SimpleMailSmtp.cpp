// TSMTPObject: the SMTP dialogue and the message format.

#include "mail/MailWire.h"
#include "mail/SimpleMail.h"

#include "base/Base64.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>

namespace pelorix {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool StartsWith(const std::string& text, char c) {
    return !text.empty() && text[0] == c;
}

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && IsBlankOrControl(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

void ReplaceAll(std::string& text, char from, const char* to) {
    std::string out;
    for (const char c : text) {
        if (c == from)
            out += to;
        else
            out += c;
    }
    text = std::move(out);
}

// Whether the (upper-case) EHLO reply names mechanism on its AUTH line.
bool OffersMechanism(const std::string& offered, const std::string& mechanism) {
    for (const std::string& line : SplitMailLines(offered)) {
        if (line.size() < 9 || line.compare(4, 4, "AUTH") != 0 || (line[8] != ' ' && line[8] != '='))
            continue;
        std::string names = line.substr(9);
        for (char& c : names)
            if (c == '=')
                c = ' ';
        if ((" " + names + " ").find(" " + mechanism + " ") != std::string::npos)
            return true;
    }
    return false;
}

// The address of one recipient entry: the text inside angle brackets, or the whole entry.
std::string RecipientAddress(const std::string& entry) {
    std::string address = Trim(entry);
    const std::size_t open = address.find('<');
    if (open != std::string::npos) {
        address.erase(0, open + 1);
        const std::size_t close = address.find('>');
        if (close != std::string::npos)
            address.erase(close, 99);
    }
    return address;
}

// The entries of a To or Cc header: every entry trimmed and encoded, all but the last with the
// comma that separates it from the next; a header folds only between them.
std::vector<std::string> HeaderRecipients(const std::string& normalised) {
    std::vector<std::string> entries;
    for (const std::string& entry : SplitMailLines(normalised))
        entries.push_back(EncodeHeaderText(Trim(entry)));
    for (std::size_t i = 0; i + 1 < entries.size(); ++i)
        entries[i] += ",";
    return entries;
}

// The pieces of a text between its CR LF pairs (an empty text is one empty piece).
std::vector<std::string> SplitAtCrLf(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at = text.find(kCrLf); at != std::string::npos; at = text.find(kCrLf, start)) {
        pieces.push_back(text.substr(start, at - start));
        start = at + 2;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// The file-name part of a path, behind the last separator ("\\", ":" or "/").
std::string FileNamePart(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\:/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// A refusal that asks for TLS first ("530 5.7.0 Must issue a STARTTLS command first").
bool AsksForProtection(const std::string& reply) {
    return StartsWith(reply, '5') && mailwire::UpperAscii(reply).find("STARTTLS") != std::string::npos;
}

bool IsRefusal(int code) {
    return code == 1 || code == -1 || code == -2 || code == -3 || code == -4;
}

} // namespace

TSMTPObject::TSMTPObject(const IClock& clock) : clock_(clock) {}

void TSMTPObject::SetMailText(std::string_view text) {
    Lines = SplitMailLines(text);
}

int TSMTPObject::Deliver() {
    SecurityLine.clear();
    SeenPin.clear();
    RefusalReply.clear();
    lastRefusal_.clear();
    if (Server.size() < 4 || (!CheckOnly && (MailFrom.size() < 6 || MailTo.size() < 6)))
        return 5;
    if (Subject.compare(" ") <= 0)
        Subject = "no subject";
    int code = 4;
    // However the name servers and the server trickle, the whole dialogue ends in time.
    const ScopedNetworkDeadline dialogue(Deadline::In(SystemClock::Instance(), DialogueTimeoutMs));
    fullName_ = FullyQualifiedHostName();
    try {
        Sock = MailConnect(Server, Port, code, ConnectTimeoutMs);
        if (Sock.IsOpen())
            RunSession(code);
    } catch (const mailwire::Silence&) {
        code = kMailSilent;
    } catch (const mailwire::Oversized&) {
        code = kMailOversized;
    } catch (...) {
        code = 4;
    }
    if (IsRefusal(code) && SecurityLine.empty()) {
        RefusalReply = lastRefusal_;
        if (AsksForProtection(lastRefusal_))
            code = kMailProtectionRequired;
    }
    if (trace_.is_open())
        trace_.close();
    Sock.Close();
    return code;
}

long TSMTPObject::ReadReply(std::string& reply) {
    reply.clear();
    std::size_t lineStart = 0;
    for (;;) {
        const long got =
            mailwire::ReceiveAppend(Sock, reply, 1022, ReplyTimeoutMs, mailwire::kMaxLineReplyBytes);
        if (StartsWith(reply, '4') || StartsWith(reply, '5'))
            lastRefusal_ = reply;
        if (got <= 0)
            return reply.empty() ? got : static_cast<long>(reply.size());
        // Every complete line that came: "NNN-" goes on, anything else ends the reply.
        for (std::size_t end = reply.find('\n', lineStart); end != std::string::npos;
             end = reply.find('\n', lineStart)) {
            const bool continued = end - lineStart > 3 && reply[lineStart + 3] == '-';
            lineStart = end + 1;
            if (!continued)
                return static_cast<long>(reply.size());
        }
    }
}

void TSMTPObject::SendLine(std::string_view text) {
    std::string line(text);
    line += kCrLf;
    mailwire::SendBytes(Sock, line, ReplyTimeoutMs);
    if (trace_.is_open())
        trace_ << line;
}

bool TSMTPObject::Secure() {
    return mailwire::SecureConnection(Sock, Server, Trust, ReplyTimeoutMs, InsecureMailLine(), SecurityLine,
                                      SeenPin);
}

bool TSMTPObject::Greet(std::string& capabilities, bool& helo) {
    helo = false;
    // As RFC 5321 asks: the full name, or where there is none the address literal.
    const std::string name = !HeloName.empty()    ? HeloName
                             : !fullName_.empty() ? fullName_
                                                  : "[" + Sock.LocalAddress() + "]";
    SendLine("EHLO " + name);
    if (ReadReply(capabilities) < 0)
        return false;
    if (Security == MailSecurity::StartTls) {
        // Without an accepted STARTTLS nothing more goes over this connection.
        const bool offered = StartsWith(capabilities, '2') &&
                             mailwire::UpperAscii(capabilities).find("STARTTLS") != std::string::npos;
        std::string reply;
        if (offered) {
            SendLine("STARTTLS");
            if (ReadReply(reply) < 0)
                return false;
        }
        if (!offered || !StartsWith(reply, '2')) {
            SecurityLine = InsecureMailLine();
            SendLine("QUIT");
            return false;
        }
        if (!Secure())
            return false;
        SendLine("EHLO " + name);
        if (ReadReply(capabilities) < 0 || !StartsWith(capabilities, '2'))
            return false;
    }
    if (StartsWith(capabilities, '2'))
        return true;
    SendLine("HELO " + name);
    std::string reply;
    helo = true;
    return ReadReply(reply) >= 0 && StartsWith(reply, '2');
}

void TSMTPObject::RunSession(int& code) {
    std::string reply;
    code = 1;

    if (Security == MailSecurity::Tls && !Secure())
        return;
    if (ReadReply(reply) < 0 || !StartsWith(reply, '2'))
        return;

    std::string capabilities;
    bool helo = false;
    if (!Greet(capabilities, helo))
        return;
    const std::string offered = mailwire::UpperAscii(capabilities);
    if (!helo) {
        code = -3;
        if (!AuthUser.empty() && offered.find("AUTH") != std::string::npos) {
            code = -4;
            if (!Authenticate(offered))
                return;
        }
    }
    if (CheckOnly) {
        code = 0;
        SendLine("QUIT");
        return;
    }

    // Text with 8-bit bytes is declared where the server takes it (RFC 6152).
    const bool eightBit = !helo && offered.find("8BITMIME") != std::string::npos;
    SendLine("MAIL FROM:<" + MailFrom + ">" + (eightBit ? " BODY=8BITMIME" : ""));
    const long got = ReadReply(reply);
    code = -3;
    if (got < 0 || !StartsWith(reply, '2'))
        return;

    for (std::string* field : {&MailTo, &MailCC, &MailBCC}) {
        ReplaceAll(*field, ';', kCrLf);
        ReplaceAll(*field, ',', kCrLf);
    }

    std::string summary = " ";
    bool anyAccepted = false;
    bool allAccepted = true;
    const bool usable = NameRecipients(summary, anyAccepted, allAccepted);
    if (usable && !anyAccepted)
        code = -2;
    if (usable && anyAccepted) {
        SendLine("DATA");
        if (ReadReply(reply) >= 0 && StartsWith(reply, '3')) {
            if (TraceOn && !TraceFile.empty())
                trace_.open(TraceFile, std::ios::binary | std::ios::trunc);
            SendMailMessage();
            if (trace_.is_open())
                trace_.close();
            SendLine("\r\n.");
            const long ack = ReadReply(reply);
            summary += "Send OK";
            if (ack >= 0 && StartsWith(reply, '2'))
                code = allAccepted ? 0 : -1;
        }
    }

    mailwire::AppendSummaryLine(SummaryFile, summary);
    SendLine("QUIT");
}

bool TSMTPObject::Authenticate(const std::string& offered) {
    // Credentials cross a connection only when it is protected, or when the user chose none.
    if (Security != MailSecurity::None && !Sock.IsSecure())
        return false;
    std::string reply;
    if (OffersMechanism(offered, "PLAIN")) {
        SendLine("AUTH PLAIN " + EncodeBase64(std::string(1, '\0') + AuthUser + '\0' + AuthPass));
        return ReadReply(reply) >= 0 && StartsWith(reply, '2');
    }
    // The server asks for the user name and then the password, each as base64 after "334 ".
    const auto challengeNames = [this, &reply](const char* word) {
        if (ReadReply(reply) < 0 || !StartsWith(reply, '3'))
            return false;
        const std::string challenge = reply.size() > 4 ? reply.substr(4, 255) : std::string();
        return mailwire::UpperAscii(DecodeBase64(challenge)).find(word) != std::string::npos;
    };
    SendLine("AUTH LOGIN");
    if (!challengeNames("USERNAME"))
        return false;
    SendLine(EncodeBase64(AuthUser));
    if (!challengeNames("PASSWORD"))
        return false;
    SendLine(EncodeBase64(AuthPass));
    return ReadReply(reply) >= 0 && StartsWith(reply, '2');
}

bool TSMTPObject::NameRecipients(std::string& summary, bool& anyAccepted, bool& allAccepted) {
    std::string reply;
    for (const std::string& entry : SplitMailLines(MailTo + kCrLf + MailCC + kCrLf + MailBCC)) {
        const std::string address = RecipientAddress(entry);
        if (address.empty())
            continue;
        SendLine("RCPT TO:<" + address + ">");
        if (ReadReply(reply) < 0)
            return false;
        if (StartsWith(reply, '2')) {
            anyAccepted = true;
            summary += address + "|";
        } else {
            allAccepted = false;
        }
    }
    return true;
}

std::string TSMTPObject::FormatDateHeader() const {
    const LocalTime t = clock_.Now();
    const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
    char text[80];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  kDayNames[(t.weekday % 7 + 7) % 7], t.day % 100,
                  kMonthNames[((t.month - 1) % 12 + 12) % 12], t.year % 10000, t.hour % 100, t.minute % 100,
                  t.second % 100, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60 % 100, offset % 60);
    return text;
}

std::string TSMTPObject::Boundary() const {
    const LocalTime t = clock_.Now();
    return "-----_NEXT_" + TwoDigits(t.hour) + TwoDigits(t.minute) + TwoDigits(t.second) + "_" +
           TwoDigits(t.day) + TwoDigits(t.month) + TwoDigits(t.year) + "_KQ";
}

std::string TSMTPObject::NewMessageId() const {
    // Unique by the moment, the process and a random part; the domain is this computer's
    // where the system knows its full name, else the sender's.
    const LocalTime t = clock_.Now();
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", t.year % 10000, t.month % 100, t.day % 100,
                  t.hour % 100, t.minute % 100, t.second % 100);
    std::random_device random;
    char salt[24];
    std::snprintf(salt, sizeof salt, "%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    std::string domain = fullName_;
    if (domain.empty()) {
        const std::size_t at = MailFrom.rfind('@');
        domain = at == std::string::npos ? std::string() : RecipientAddress(MailFrom.substr(at + 1));
    }
    if (domain.empty())
        domain = "pelorix.invalid";
    return "<" + std::string(stamp) + "." + std::to_string(CurrentProcessId()) + "." + salt + "@" + domain +
           ">";
}

void TSMTPObject::SendHeader(const std::string& boundary) {
    SendLine(FoldHeader("From", {EncodeHeaderText(SenderName), "<" + MailFrom + ">"}));
    SendLine(FoldHeader("To", HeaderRecipients(MailTo)));
    const std::vector<std::string> cc = HeaderRecipients(MailCC);
    if (!(cc.empty() || (cc.size() == 1 && cc[0].empty())))
        SendLine(FoldHeader("Cc", cc));
    SendLine(FoldHeader("Subject", {EncodeHeaderText(Subject)}));
    if (!ReplyTo.empty())
        SendLine(FoldHeader("Reply-To", {EncodeHeaderText(ReplyTo)}));
    SendLine("Date: " + FormatDateHeader() + kCrLf + "X-Mailer: Pelorix IP-Publisher (SimpleMail)");
    SendLine("Message-ID: " + (MessageId.empty() ? NewMessageId() : MessageId));
    if (!boundary.empty()) {
        SendLine(std::string("MIME-Version: 1.0") + kCrLf + "Content-Type: multipart/mixed; " + kCrLf +
                 " boundary=\"" + boundary + "\"");
        SendLine(std::string(kCrLf) + "mehrteilige Nachricht im MIME-Format" + kCrLf + kCrLf + "--" +
                 boundary);
        SendLine(std::string("Content-Type: text/plain; charset=iso-8859-1") + kCrLf +
                 "Content-Transfer-Encoding: 8bit" + kCrLf);
        return;
    }
    SendLine(std::string("MIME-Version: 1.0") + kCrLf + "Content-Type: text/plain; charset=iso-8859-1" +
             kCrLf + "Content-Transfer-Encoding: 8bit" + kCrLf);
}

void TSMTPObject::SendMailMessage() {
    const std::string boundary = Attachments.empty() ? std::string() : Boundary();
    SendHeader(boundary);

    for (const std::string& line : Lines) {
        std::string item;
        bool first = true;
        for (const std::string& piece : SplitAtCrLf(WrapMailLine(line))) {
            if (!first)
                item += kCrLf;
            // A line that begins with "." gets one more, so no body line reads as the end mark.
            if (StartsWith(piece, '.'))
                item += '.';
            item += piece;
            first = false;
        }
        SendLine(item);
    }

    if (boundary.empty())
        return;
    for (const std::string& path : Attachments) {
        const std::string name = FileNamePart(path);
        SendLine(std::string(kCrLf) + "--" + boundary + kCrLf +
                 "Content-Type: application/octet-stream; name=\"" + name + "\"" + kCrLf +
                 "Content-Transfer-Encoding: base64" + kCrLf +
                 "Content-Disposition: attachment; filename=\"" + name + "\"" + kCrLf);
        SendAttachment(path);
        SendLine("");
    }
    SendLine(std::string(kCrLf) + "--" + boundary + "--");
}

void TSMTPObject::SendAttachment(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        return;
    std::string line;
    std::string block;
    std::size_t pos = 0;
    std::size_t taken = 0;
    do {
        if (line.size() >= 72) {
            block += line + kCrLf;
            line.clear();
            if (block.size() >= 2368) {
                block.resize(block.size() - 2);
                SendLine(block);
                block.clear();
            }
        }
        taken = std::min<std::size_t>(3, bytes.size() - pos);
        line += EncodeBase64(std::string_view(bytes).substr(pos, taken));
        pos += taken;
    } while (taken == 3);
    block += line;
    if (!block.empty())
        SendLine(block);
}

} // namespace pelorix
