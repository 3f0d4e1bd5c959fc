// TPOP3Object: the mailbox check and its overview.

#include "mail/MailWire.h"
#include "mail/SimpleMail.h"

#include <algorithm>
#include <charconv>

namespace pelorix {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kNoValue = "ohne_Angabe";

bool IsPositive(const std::string& reply) {
    return !reply.empty() && reply[0] == '+';
}

// Deletes everything up to and including the first occurrence of c (nothing when absent).
void DropThrough(std::string& text, char c) {
    const std::size_t at = text.find(c);
    if (at != std::string::npos)
        text.erase(0, at + 1);
}

// The leading characters of text that are not control characters (up to the CR).
std::string LeadingPrintable(const std::string& text) {
    std::size_t n = 0;
    while (n < text.size() && static_cast<unsigned char>(text[n]) >= ' ')
        ++n;
    return text.substr(0, n);
}

// The count text of a STAT reply: "0" and the digits from the fifth character on.
std::string CountText(const std::string& reply) {
    std::string count = "0";
    for (std::size_t i = 4; i < reply.size() && static_cast<unsigned char>(reply[i]) >= '0'; ++i)
        count += reply[i];
    return count;
}

int ParseCount(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return 0;
    return value;
}

} // namespace

int TPOP3Object::CheckMailbox() {
    SecurityLine.clear();
    SeenPin.clear();
    LoggedIn = false;
    MsgCount = 0;
    if (Server.size() < 4 || User.empty() || Password.empty())
        return 5;
    int code = 4;
    std::string summary = " NoNet";
    // However the name servers and the server trickle, the whole check ends in time.
    const ScopedNetworkDeadline dialogue(Deadline::In(SystemClock::Instance(), DialogueTimeoutMs));
    try {
        RunCheck(code, summary);
    } catch (const mailwire::Silence&) {
        code = kMailSilent;
    } catch (const mailwire::Oversized&) {
        code = kMailOversized;
    } catch (...) {
        code = 4;
    }
    Sock.Close();
    mailwire::AppendSummaryLine(SummaryFile, summary);
    return code;
}

bool TPOP3Object::Command(std::string_view text) {
    SendMailCommand(Sock, text, ReplyTimeoutMs);
    bool timedOut = false;
    const bool positive = ReadPositiveReply(Sock, ReplyTimeoutMs, &timedOut);
    if (timedOut)
        throw mailwire::Silence{};
    return positive;
}

std::string TPOP3Object::Collect(bool multiLine, std::size_t chunk, bool& closed) {
    std::string reply;
    closed = false;
    bool lineDone = false;
    for (;;) {
        // The end mark can only begin in what this receive adds (or three bytes before it).
        const std::size_t searched = reply.size() < 3 ? 0 : reply.size() - 3;
        if (mailwire::ReceiveAppend(Sock, reply, chunk, ReplyTimeoutMs) <= 0) {
            closed = true;
            return reply;
        }
        lineDone = lineDone || reply.find('\n', searched) != std::string::npos;
        if (!multiLine && lineDone)
            return reply;
        // A negative reply is a single line; it never carries the terminating ".".
        if (multiLine && lineDone && reply[0] == '-')
            return reply;
        if (multiLine && reply.find("\n.\r\n", searched) != std::string::npos)
            return reply;
    }
}

bool TPOP3Object::Secure() {
    return mailwire::SecureConnection(Sock, Server, Trust, ReplyTimeoutMs, InsecurePop3Line(), SecurityLine,
                                      SeenPin);
}

void TPOP3Object::RunCheck(int& code, std::string& summary) {
    Sock = MailConnect(Server, Port, code, ConnectTimeoutMs);
    if (!Sock.IsOpen())
        return;

    // A connection that cannot be made secure counts like a server that was not reached.
    if (Security == MailSecurity::Tls && !Secure()) {
        code = 3;
        return;
    }
    bool timedOut = false;
    if (!ReadPositiveReply(Sock, ReplyTimeoutMs, &timedOut)) {
        if (timedOut)
            throw mailwire::Silence{};
        code = 3;
        return;
    }
    if (Security == MailSecurity::StartTls) {
        // Neither the user name nor the password goes out before STLS succeeded.
        if (!Command("STLS")) {
            SecurityLine = InsecurePop3Line();
            code = 3;
            SendMailCommand(Sock, "QUIT", ReplyTimeoutMs);
            return;
        }
        if (!Secure()) {
            code = 3;
            return;
        }
    }
    if (Security != MailSecurity::None && !Sock.IsSecure()) {
        code = 3;
        return;
    }

    summary = " NoBox";
    if (!Command("USER " + User)) {
        code = 2;
    } else {
        summary = " NoPass";
        if (!Command("PASS " + Password)) {
            code = 1;
        } else {
            code = 0;
            LoggedIn = true;
            ReadOverview(summary);
        }
    }
    SendMailCommand(Sock, "QUIT", ReplyTimeoutMs);
    ReadPositiveReply(Sock, ReplyTimeoutMs);
}

void TPOP3Object::ReadOverview(std::string& summary) {
    bool closed = false;
    SendMailCommand(Sock, "STAT", ReplyTimeoutMs);
    summary = " NoStat";
    const std::string stat = Collect(false, 1024, closed);
    if (!IsPositive(stat))
        return;
    const std::string countText = CountText(stat);
    MsgCount = ParseCount(countText);
    summary = " " + countText + " Msg";
    if (MsgCount == 0)
        return;

    SendMailCommand(Sock, "LIST", ReplyTimeoutMs);
    std::string list = Collect(true, 1024, closed);
    if (!IsPositive(list))
        return;
    SendMailCommand(Sock, "UIDL", ReplyTimeoutMs);
    std::string uidl = Collect(true, 1024, closed);

    // The overview covers the messages the LIST reply names: a count beyond its end would
    // only add empty entries, and a hostile count must not keep the check busy for ever.
    const std::size_t firstUid = UidList.size();
    int listed = 0;
    for (int i = 1; i <= MsgCount && !list.empty(); ++i, ++listed) {
        for (std::string* text : {&list, &uidl}) {
            DropThrough(*text, '\n');
            DropThrough(*text, ' ');
        }
        SizeList.push_back("0" + LeadingPrintable(list));
        std::string uid = LeadingPrintable(uidl);
        if (uid.empty() || uid == ".")
            uid = std::to_string(i);
        UidList.push_back(uid);
    }

    for (int i = 1; i <= listed && !closed; ++i) {
        SendMailCommand(Sock, "TOP " + std::to_string(i) + " 1", ReplyTimeoutMs);
        const std::string top = Collect(true, 4094, closed);
        std::string from;
        std::string subject;
        std::string date;
        for (const std::string& line : SplitMailLines(top)) {
            const std::string head = mailwire::UpperAscii(line.substr(0, 6));
            if (head == "FROM: ")
                from = line.substr(std::min<std::size_t>(6, line.size()), 254);
            else if (head == "DATE: ")
                date = line.substr(std::min<std::size_t>(6, line.size()), 254);
            else if (head == "SUBJEC")
                subject = line.substr(std::min<std::size_t>(9, line.size()), 254);
        }
        for (std::string* value : {&from, &subject, &date})
            if (value->empty())
                *value = kNoValue;
        FromList.push_back(from);
        SubjectList.push_back(subject);
        DateList.push_back(date);
        summary += std::string(kCrLf) + " " + std::to_string(i) + "|" + UidList[firstUid + i - 1] + "|" +
                   from + "|" + subject + "|" + date;
    }
}

} // namespace pelorix
