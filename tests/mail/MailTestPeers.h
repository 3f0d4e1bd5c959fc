#pragma once
// Scripted SMTP and POP3 servers and a fixed clock for the mail tests: the server answers
// each command from a table, and the test compares every byte the client sent.

#include "ScriptedPeer.h"
#include "platform/Clock.h"

#include <deque>
#include <map>
#include <string>

namespace pelorix::test {

class FixedClock final : public IClock {
public:
    explicit FixedClock(LocalTime t) : time(t) {}
    LocalTime Now() const override { return time; }
    long long MonotonicMs() const override { return 0; }
    LocalTime time;
};

// Thursday, 5 March 2026, 14:05:09, one hour ahead of UTC.
inline LocalTime SampleTime() {
    LocalTime t;
    t.year = 2026;
    t.month = 3;
    t.day = 5;
    t.hour = 14;
    t.minute = 5;
    t.second = 9;
    t.weekday = 4;
    t.utcOffsetMinutes = 60;
    return t;
}

struct SmtpReplies {
    std::string greeting = "220 mail.test ESMTP\r\n";
    std::string ehlo = "250-mail.test\r\n250-AUTH LOGIN\r\n250 HELP\r\n";
    std::string helo = "250 mail.test\r\n";
    std::string userChallenge = "334 VXNlcm5hbWU6\r\n"; // "Username:"
    std::string passChallenge = "334 UGFzc3dvcmQ6\r\n"; // "Password:"
    std::string authResult = "235 2.7.0 Authentication successful\r\n";
    std::string mailFrom = "250 OK\r\n";
    std::deque<std::string> rcpt; // one per RCPT in order; "250 OK" when used up
    std::string data = "354 End data with <CR><LF>.<CR><LF>\r\n";
    std::string endMark = "250 OK queued\r\n";
};

// Plays an SMTP server by the table until QUIT or until the client closes (an empty
// greeting: the script has greeted already).
inline void PlaySmtp(PeerConnection& c, SmtpReplies r) {
    if (!r.greeting.empty())
        c.Send(r.greeting);
    for (;;) {
        const std::string line = c.ReadLine();
        if (line.empty())
            return;
        if (line.rfind("EHLO ", 0) == 0) {
            c.Send(r.ehlo);
        } else if (line.rfind("HELO ", 0) == 0) {
            c.Send(r.helo);
        } else if (line == "AUTH LOGIN\r\n") {
            c.Send(r.userChallenge);
            if (r.userChallenge[0] != '3' || c.ReadLine().empty())
                continue;
            c.Send(r.passChallenge);
            if (r.passChallenge[0] != '3' || c.ReadLine().empty())
                continue;
            c.Send(r.authResult);
        } else if (line.rfind("AUTH PLAIN ", 0) == 0) {
            c.Send(r.authResult);
        } else if (line.rfind("MAIL FROM:", 0) == 0) {
            c.Send(r.mailFrom);
        } else if (line.rfind("RCPT TO:", 0) == 0) {
            std::string reply = "250 OK\r\n";
            if (!r.rcpt.empty()) {
                reply = r.rcpt.front();
                r.rcpt.pop_front();
            }
            c.Send(reply);
        } else if (line == "DATA\r\n") {
            c.Send(r.data);
            if (r.data[0] == '3') {
                c.ReadUntil("\r\n.\r\n");
                c.Send(r.endMark);
            }
        } else if (line == "QUIT\r\n") {
            c.Send("221 Bye\r\n");
            return;
        } else {
            c.Send("500 unknown\r\n");
        }
    }
}

struct Pop3Replies {
    std::string greeting = "+OK POP3 ready\r\n";
    std::string user = "+OK\r\n";
    std::string pass = "+OK logged in\r\n";
    std::string stat = "+OK 0 0\r\n";
    std::string list = "+OK\r\n.\r\n";
    std::string uidl = "+OK\r\n.\r\n";
    std::map<int, std::string> top; // message number -> reply
};

// Plays a POP3 server by the table until QUIT or until the client closes.
inline void PlayPop3(PeerConnection& c, const Pop3Replies& r) {
    c.Send(r.greeting);
    for (;;) {
        const std::string line = c.ReadLine();
        if (line.empty())
            return;
        if (line.rfind("USER ", 0) == 0) {
            c.Send(r.user);
        } else if (line.rfind("PASS ", 0) == 0) {
            c.Send(r.pass);
        } else if (line == "STAT\r\n") {
            c.Send(r.stat);
        } else if (line == "LIST\r\n") {
            c.Send(r.list);
        } else if (line == "UIDL\r\n") {
            c.Send(r.uidl);
        } else if (line.rfind("TOP ", 0) == 0) {
            const int number = std::stoi(line.substr(4));
            const auto it = r.top.find(number);
            c.Send(it != r.top.end() ? it->second : "-ERR no such message\r\n");
        } else if (line == "QUIT\r\n") {
            c.Send("+OK bye\r\n");
            return;
        } else {
            c.Send("-ERR unknown\r\n");
        }
    }
}

} // namespace pelorix::test
