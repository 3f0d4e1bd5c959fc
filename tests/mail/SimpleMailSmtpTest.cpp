// TSMTPObject against a scripted server: the dialogue, the message bytes and every result code.

#include "MailTestPeers.h"
#include "TempDir.h"
#include "TestSystem.h"
#include "base/Base64.h"
#include "base/Latin1.h"
#include "mail/SimpleMail.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

namespace pelorix {
namespace {

using test::PeerConnection;
using test::ScriptedPeer;
using test::SmtpReplies;

constexpr const char* kDateLines = "Date: Thu, 05 Mar 2026 14:05:09 +0100\r\nX-Mailer: Pelorix IP-Publisher "
                                   "(SimpleMail)\r\nMessage-ID: <1@client.test>\r\n";
constexpr const char* kTextHeader =
    "Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: 8bit\r\n\r\n";

// What the client names itself in EHLO here: the computer's full name, or (as in the private
// namespace of the tests) the address literal of its end.
std::string Ehlo() {
    const std::string name = FullyQualifiedHostName();
    return "EHLO " + (name.empty() ? std::string("[127.0.0.1]") : name) + "\r\n";
}
std::string Helo() {
    return "HE" + Ehlo().substr(2);
}

class SmtpTest : public ::testing::Test {
protected:
    SmtpTest() : clock_(test::SampleTime()), smtp_(clock_) {
        smtp_.Server = "127.0.0.1";
        smtp_.MessageId = "<1@client.test>";
        smtp_.Port = peer_.Port();
        smtp_.ConnectTimeoutMs = 2000;
        smtp_.ReplyTimeoutMs = 2000;
        smtp_.MailFrom = "ip@example.org";
        smtp_.SenderName = "Pelorix";
        smtp_.MailTo = "anna@example.org";
        smtp_.Subject = "IP 10.1.2.3";
        smtp_.SetMailText("line one\r\nline two");
    }

    // Runs Deliver against the table; gives its code and the client's bytes.
    int Deliver(SmtpReplies replies, std::string& sent) {
        peer_.Run([replies](PeerConnection& c) { test::PlaySmtp(c, replies); });
        const int code = smtp_.Deliver();
        sent = peer_.Finish();
        return code;
    }

    test::FixedClock clock_;
    ScriptedPeer peer_;
    TSMTPObject smtp_;
};

TEST_F(SmtpTest, FullDialogueWithAuthLoginIsByteExact) {
    smtp_.AuthUser = "user";
    smtp_.AuthPass = "secret";
    smtp_.MailTo = "Anna Muster <anna@example.org>; bob@example.org";
    smtp_.MailCC = "carl@example.org";
    smtp_.MailBCC = "hidden@example.org";
    const std::string longLine = [] {
        std::string s;
        while (s.size() < 100)
            s += "abcdefghi ";
        return s.substr(0, 100);
    }();
    smtp_.SetMailText(".\r\n.dot first\r\n\r\n" + longLine);
    std::string sent;
    EXPECT_EQ(Deliver({}, sent), 0);
    const std::string expected =
        Ehlo() + "AUTH LOGIN\r\n" + "dXNlcg==\r\n" + "c2VjcmV0\r\n" + "MAIL FROM:<ip@example.org>\r\n" +
        "RCPT TO:<anna@example.org>\r\n" + "RCPT TO:<bob@example.org>\r\n" +
        "RCPT TO:<carl@example.org>\r\n" + "RCPT TO:<hidden@example.org>\r\n" + "DATA\r\n" +
        "From: Pelorix <ip@example.org>\r\n" + "To: Anna Muster <anna@example.org>, bob@example.org\r\n" +
        "Cc: carl@example.org\r\n" + "Subject: IP 10.1.2.3\r\n" + kDateLines + "MIME-Version: 1.0\r\n" +
        kTextHeader + "..\r\n" + "..dot first\r\n" + "\r\n" + longLine.substr(0, 70) + "\r\n" +
        longLine.substr(70) + "\r\n" + "\r\n.\r\n" + "QUIT\r\n";
    EXPECT_EQ(sent, expected);
    // Once the sender was accepted the recipient fields hold line breaks instead of separators.
    EXPECT_EQ(smtp_.MailTo, "Anna Muster <anna@example.org>\r\n bob@example.org");
}

TEST_F(SmtpTest, ServerWithoutAuthGetsTheMailWithoutAuthentication) {
    smtp_.AuthUser = "user";
    smtp_.AuthPass = "secret";
    SmtpReplies replies;
    replies.ehlo = "250-mail.test\r\n250-SIZE 1000\r\n250 HELP\r\n";
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), 0);
    EXPECT_EQ(sent.find("AUTH"), std::string::npos);
    EXPECT_EQ(sent.rfind(Ehlo() + "MAIL FROM:<ip@example.org>\r\n", 0), 0u);
}

TEST_F(SmtpTest, EhloReplyInPiecesIsCollectedUpToItsLastLine) {
    smtp_.AuthUser = "user";
    smtp_.AuthPass = "pw";
    peer_.Run([](PeerConnection& c) {
        c.Send("220 hi\r\n");
        c.ReadLine();
        c.Send("250-mail.test\r\n");
        c.ReadUntil("never", 50);
        c.Send("250-AUTH LOGIN\r\n");
        c.ReadUntil("never", 50);
        c.Send("250 HELP\r\n");
        EXPECT_EQ(c.ReadLine(), "AUTH LOGIN\r\n");
        c.Send("535 no\r\n");
    });
    EXPECT_EQ(smtp_.Deliver(), -4);
    peer_.Finish();
}

TEST_F(SmtpTest, RefusedEhloFallsBackToHelo) {
    SmtpReplies replies;
    replies.ehlo = "502 command not implemented\r\n";
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), 0);
    EXPECT_EQ(sent.rfind(Ehlo() + Helo() + "MAIL FROM:<ip@example.org>\r\n", 0), 0u);
}

TEST_F(SmtpTest, RefusedHeloOrGreetingStopsWithoutQuit) {
    SmtpReplies replies;
    replies.ehlo = "502 no\r\n";
    replies.helo = "501 no\r\n";
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), 1);
    EXPECT_EQ(sent, Ehlo() + Helo() + "");

    ScriptedPeer second;
    smtp_.Port = second.Port();
    SmtpReplies busy;
    busy.greeting = "554 busy\r\n";
    second.Run([busy](PeerConnection& c) { test::PlaySmtp(c, busy); });
    EXPECT_EQ(smtp_.Deliver(), 1);
    EXPECT_EQ(second.Finish(), "");
}

TEST_F(SmtpTest, AllRecipientsRefusedGivesMinusTwoWithoutDataButWithQuit) {
    smtp_.MailTo = "a@example.org, b@example.org";
    SmtpReplies replies;
    replies.rcpt = {"550 no such user\r\n", "550 no such user\r\n"};
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), -2);
    EXPECT_EQ(sent, Ehlo() + "MAIL FROM:<ip@example.org>\r\nRCPT TO:<a@example.org>\r\n"
                             "RCPT TO:<b@example.org>\r\nQUIT\r\n");
}

TEST_F(SmtpTest, OneOfTwoRecipientsRefusedSendsTheMailWithMinusOne) {
    smtp_.MailTo = "a@example.org;b@example.org";
    SmtpReplies replies;
    replies.rcpt = {"550 no such user\r\n"};
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), -1);
    EXPECT_NE(sent.find("DATA\r\n"), std::string::npos);
    EXPECT_NE(sent.find("To: a@example.org, b@example.org\r\n"), std::string::npos);
}

TEST_F(SmtpTest, RefusedSenderDataOrEndMarkGiveMinusThree) {
    SmtpReplies sender;
    sender.mailFrom = "553 sender refused\r\n";
    std::string sent;
    EXPECT_EQ(Deliver(sender, sent), -3);
    EXPECT_EQ(sent, Ehlo() + "MAIL FROM:<ip@example.org>\r\n");

    for (const bool refuseData : {true, false}) {
        ScriptedPeer peer;
        smtp_.Port = peer.Port();
        SmtpReplies replies;
        if (refuseData)
            replies.data = "554 no data\r\n";
        else
            replies.endMark = "554 rejected\r\n";
        peer.Run([replies](PeerConnection& c) { test::PlaySmtp(c, replies); });
        EXPECT_EQ(smtp_.Deliver(), -3);
        const std::string bytes = peer.Finish();
        EXPECT_EQ(bytes.substr(bytes.size() - 6), "QUIT\r\n");
    }
}

TEST_F(SmtpTest, FailedAuthenticationGivesMinusFour) {
    smtp_.AuthUser = "user";
    smtp_.AuthPass = "wrong";
    SmtpReplies replies;
    replies.authResult = "535 5.7.8 Authentication credentials invalid\r\n";
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), -4);
    EXPECT_EQ(sent, Ehlo() + "AUTH LOGIN\r\ndXNlcg==\r\nd3Jvbmc=\r\n");

    // A challenge that does not ask for the user name ends the attempt before the name goes out.
    ScriptedPeer peer;
    smtp_.Port = peer.Port();
    SmtpReplies odd;
    odd.userChallenge = "334 " + EncodeBase64("Who?") + "\r\n";
    peer.Run([odd](PeerConnection& c) { test::PlaySmtp(c, odd); });
    EXPECT_EQ(smtp_.Deliver(), -4);
    EXPECT_EQ(peer.Finish(), Ehlo() + "AUTH LOGIN\r\n");
}

TEST_F(SmtpTest, SubjectsEmptyAndNonAscii) {
    smtp_.Subject = "";
    std::string sent;
    EXPECT_EQ(Deliver({}, sent), 0);
    EXPECT_NE(sent.find("\r\nSubject: no subject\r\n"), std::string::npos);

    ScriptedPeer peer;
    smtp_.Port = peer.Port();
    smtp_.Subject = "Neue Adresse für Jörg"_l1;
    smtp_.SenderName = "Büro"_l1;
    peer.Run([](PeerConnection& c) { test::PlaySmtp(c, {}); });
    EXPECT_EQ(smtp_.Deliver(), 0);
    const std::string bytes = peer.Finish();
    EXPECT_NE(bytes.find("\r\nSubject: Neue Adresse =?iso-8859-1?Q?f=FCr_J=F6rg?=\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nFrom: =?iso-8859-1?Q?B=FCro?= <ip@example.org>\r\n"), std::string::npos);
}

TEST_F(SmtpTest, AttachmentsGoOutAsBase64PartsBehindTheText) {
    test::TempDir dir;
    dir.Write("abc.txt", "abc");
    dir.Write("a.bin", "a");
    dir.Write("empty.dat", "");
    smtp_.Attachments = {dir.File("abc.txt"), dir.File("a.bin"), dir.File("empty.dat"), dir.File("missing")};
    smtp_.ReplyTo = "reply@example.org";
    std::string sent;
    EXPECT_EQ(Deliver({}, sent), 0);
    const std::string b = "-----_NEXT_140509_050326_KQ";
    const auto part = [&](const std::string& name) {
        return "\r\n--" + b + "\r\nContent-Type: application/octet-stream; name=\"" + name +
               "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" +
               name + "\"\r\n\r\n";
    };
    const std::string message =
        std::string("From: Pelorix <ip@example.org>\r\n") + "To: anna@example.org\r\n" +
        "Subject: IP 10.1.2.3\r\n" + "Reply-To: reply@example.org\r\n" + kDateLines +
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; \r\n boundary=\"" + b + "\"\r\n" +
        "\r\nmehrteilige Nachricht im MIME-Format\r\n\r\n--" + b + "\r\n" + kTextHeader +
        "line one\r\nline two\r\n" + part("abc.txt") + "YWJj\r\n\r\n" + part("a.bin") + "YQ==\r\n\r\n" +
        part("empty.dat") + "\r\n" + part("missing") + "\r\n" + "\r\n--" + b + "--\r\n" + "\r\n.\r\n";
    const std::size_t start = sent.find("DATA\r\n");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(sent.substr(start + 6), message + "QUIT\r\n");
}

TEST_F(SmtpTest, LongAttachmentLinesHold72CharactersAndSurviveTheRoundTrip) {
    test::TempDir dir;
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    dir.Write("data.bin", bytes);
    smtp_.Attachments = {dir.File("data.bin")};
    std::string sent;
    EXPECT_EQ(Deliver({}, sent), 0);
    const std::string head = "filename=\"data.bin\"\r\n\r\n";
    const std::size_t from = sent.find(head) + head.size();
    const std::size_t to = sent.find("\r\n\r\n", from);
    const std::string base64 = sent.substr(from, to - from);
    std::size_t start = 0;
    for (std::size_t at = base64.find("\r\n"); at != std::string::npos; at = base64.find("\r\n", start)) {
        EXPECT_EQ(at - start, 72u);
        start = at + 2;
    }
    EXPECT_EQ(DecodeBase64(base64), bytes);
}

TEST_F(SmtpTest, MissingParametersGiveFiveWithoutConnecting) {
    smtp_.MailTo = "a@b.c";
    EXPECT_EQ(smtp_.Deliver(), 5);
    smtp_.MailTo = "a@b.cd";
    smtp_.MailFrom = "x@y.z";
    EXPECT_EQ(smtp_.Deliver(), 5);
    smtp_.MailFrom = "ip@example.org";
    smtp_.Server = "abc";
    EXPECT_EQ(smtp_.Deliver(), 5);
    peer_.Run([](PeerConnection& c) { test::PlaySmtp(c, {}); }, 200);
    EXPECT_FALSE(peer_.Accepted());

    // Six characters pass the check.
    ScriptedPeer peer;
    smtp_.Server = "127.0.0.1";
    smtp_.Port = peer.Port();
    smtp_.MailTo = "a@b.cd";
    peer.Run([](PeerConnection& c) { test::PlaySmtp(c, {}); });
    EXPECT_EQ(smtp_.Deliver(), 0);
    EXPECT_NE(peer.Finish().find("RCPT TO:<a@b.cd>\r\n"), std::string::npos);
}

TEST_F(SmtpTest, RecipientListEntriesAreTrimmedAndEmptyOnesSkipped) {
    smtp_.MailTo = " <a@example.org> ;; \tb@example.org";
    smtp_.MailCC = "Carl <c@example.org>";
    std::string sent;
    EXPECT_EQ(Deliver({}, sent), 0);
    EXPECT_NE(sent.find("MAIL FROM:<ip@example.org>\r\nRCPT TO:<a@example.org>\r\nRCPT TO:<b@example.org>\r\n"
                        "RCPT TO:<c@example.org>\r\nDATA\r\n"),
              std::string::npos);
    EXPECT_NE(sent.find("\r\nTo: <a@example.org>, , b@example.org\r\nCc: Carl <c@example.org>\r\n"),
              std::string::npos);
}

TEST_F(SmtpTest, SummaryAndTraceFiles) {
    test::TempDir dir;
    smtp_.SummaryFile = dir.File("summary.txt");
    smtp_.TraceOn = true;
    smtp_.TraceFile = dir.File("trace.txt");
    smtp_.MailTo = "a@example.org, b@example.org";
    SmtpReplies replies;
    replies.rcpt = {"250 OK\r\n", "550 unknown\r\n"};
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), -1);
    EXPECT_EQ(dir.Read("summary.txt"), " a@example.org|Send OK\r\n");
    const std::string trace = dir.Read("trace.txt");
    EXPECT_EQ(trace.rfind("From: Pelorix <ip@example.org>\r\n", 0), 0u);
    EXPECT_EQ(trace.substr(trace.size() - 10), "line two\r\n");
    EXPECT_NE(sent.find(trace), std::string::npos);
}

TEST_F(SmtpTest, StartTlsThatIsNotOfferedOrRefusedSendsNoCredentials) {
    smtp_.Security = MailSecurity::StartTls;
    smtp_.AuthUser = "user";
    smtp_.AuthPass = "secret";
    std::string sent;
    EXPECT_EQ(Deliver(SmtpReplies{}, sent), 1);
    EXPECT_EQ(sent, Ehlo() + "QUIT\r\n");
    EXPECT_EQ(smtp_.SecurityLine, "-Mailversand gescheitert: Verbindung nicht sicher");

    ScriptedPeer refusing;
    smtp_.Port = refusing.Port();
    SmtpReplies replies;
    replies.ehlo = "250-mail.test\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n";
    refusing.Run([replies](PeerConnection& c) { test::PlaySmtp(c, replies); });
    EXPECT_EQ(smtp_.Deliver(), 1);
    EXPECT_EQ(refusing.Finish(), Ehlo() + "STARTTLS\r\nQUIT\r\n");
    EXPECT_EQ(smtp_.SecurityLine, "-Mailversand gescheitert: Verbindung nicht sicher");
}

TEST_F(SmtpTest, PlainServerWhereTlsIsExpectedGetsNothingButTheHandshake) {
    if (!test::TlsAvailable())
        GTEST_SKIP() << "no TLS library in this build";
    smtp_.Security = MailSecurity::Tls;
    smtp_.AuthUser = "user";
    smtp_.AuthPass = "secret";
    peer_.Run([](PeerConnection& c) {
        c.Send("220 mail.test ESMTP\r\n");
        c.ReadToEnd(2000);
    });
    EXPECT_EQ(smtp_.Deliver(), 1);
    EXPECT_EQ(smtp_.SecurityLine, "-Mailversand gescheitert: Verbindung nicht sicher");
    const std::string sent = peer_.Finish();
    // Only the TLS handshake record (0x16) went out, no command and no credentials.
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0], '\x16');
    EXPECT_EQ(sent.find("EHLO"), std::string::npos);
    EXPECT_EQ(sent.find("dXNlcg"), std::string::npos);
}

TEST_F(SmtpTest, AuthPlainAndEightBitBodyWhereTheServerOffersThem) {
    smtp_.AuthUser = "user";
    smtp_.AuthPass = "secret";
    smtp_.MessageId.clear();
    SmtpReplies replies;
    replies.ehlo = "250-mail.test\r\n250-AUTH=LOGIN PLAIN\r\n250-8BITMIME\r\n250 HELP\r\n";
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), 0);
    EXPECT_EQ(
        sent.rfind(Ehlo() + "AUTH PLAIN AHVzZXIAc2VjcmV0\r\nMAIL FROM:<ip@example.org> BODY=8BITMIME\r\n", 0),
        0u);
    const std::size_t id = sent.find("\r\nMessage-ID: <20260305140509.");
    ASSERT_NE(id, std::string::npos);
    EXPECT_NE(sent.find("@", id), std::string::npos);
}

TEST_F(SmtpTest, RepliesInSegmentsAndAFinalLineOfDigitsAlone) {
    peer_.Run([](PeerConnection& c) {
        const auto later = [&c](const std::string& bytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            c.Send(bytes);
        };
        c.Send("220-mail.test\r\n");
        later("220 ready\r\n");
        c.ReadLine();
        c.Send("250-mail.test\r\n");
        later("250-SIZE 1000\r\n");
        later("250\r\n");
        c.ReadLine();
        c.Send("250-sender\r\n");
        later("250 ok\r\n");
        SmtpReplies rest;
        rest.greeting.clear();
        test::PlaySmtp(c, rest);
    });
    EXPECT_EQ(smtp_.Deliver(), 0);
    const std::string sent = peer_.Finish();
    EXPECT_NE(sent.find("RCPT TO:<anna@example.org>\r\nDATA\r\n"), std::string::npos);
}

TEST_F(SmtpTest, TricklingServerEndsWithinTheDialogueLimit) {
    smtp_.DialogueTimeoutMs = 600;
    peer_.Run([](PeerConnection& c) {
        c.Send("220 hi\r\n");
        c.ReadLine();
        // One byte at a time, each well within the reply limit, never ending the reply.
        while (c.Send("2"))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(smtp_.Deliver(), kMailSilent);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(SmtpTest, SilentServerIsToldApartFromAMissingNetwork) {
    smtp_.ReplyTimeoutMs = 150;
    peer_.Run([](PeerConnection& c) {
        c.Send("220 hi\r\n");
        c.ReadToEnd(3000);
    });
    EXPECT_EQ(smtp_.Deliver(), kMailSilent);
    EXPECT_EQ(peer_.Finish(), Ehlo() + "");

    ScriptedPeer mute;
    smtp_.Port = mute.Port();
    mute.Run([](PeerConnection& c) { c.ReadToEnd(3000); });
    EXPECT_EQ(smtp_.Deliver(), kMailSilent);
    mute.Finish();
}

TEST_F(SmtpTest, RefusalThatAsksForStartTlsIsToldAsSuchWithTheReply) {
    SmtpReplies replies;
    replies.mailFrom = "530 5.7.0 Must issue a STARTTLS command first\r\n";
    std::string sent;
    EXPECT_EQ(Deliver(replies, sent), kMailProtectionRequired);
    EXPECT_EQ(smtp_.RefusalReply, replies.mailFrom);

    // Any other refusal keeps its code, and its reply too.
    ScriptedPeer peer;
    smtp_.Port = peer.Port();
    replies.mailFrom = "530 5.7.0 Authentication required\r\n";
    peer.Run([replies](PeerConnection& c) { test::PlaySmtp(c, replies); });
    EXPECT_EQ(smtp_.Deliver(), -3);
    peer.Finish();
    EXPECT_EQ(smtp_.RefusalReply, replies.mailFrom);
}

TEST_F(SmtpTest, MegabyteGreetingIsAnOversizedReply) {
    peer_.Run([](PeerConnection& c) {
        std::string line = "220-" + std::string(1000, 'x') + "\r\n";
        bool taken = true;
        for (int i = 0; i < 1000 && taken; ++i)
            taken = c.Send(line);
        if (taken)
            test::PlaySmtp(c, SmtpReplies{});
    });
    EXPECT_EQ(smtp_.Deliver(), kMailOversized);
    EXPECT_EQ(peer_.Finish(), "");
}

TEST_F(SmtpTest, ServerThatFloodsOneReplyIsLeft) {
    // Eight megabytes of EHLO lines, then the reply's last line and a normal dialogue: a
    // client without a bound on a reply would hold all of it and send the mail.
    peer_.Run([](PeerConnection& c) {
        c.Send("220 hi\r\n");
        c.ReadLine();
        std::string chunk;
        while (chunk.size() < 65536)
            chunk += "250-" + std::string(70, 'x') + "\r\n";
        bool taken = true;
        for (int i = 0; i < 128 && taken; ++i)
            taken = c.Send(chunk);
        SmtpReplies rest;
        rest.greeting = "";
        if (taken && c.Send("250 HELP\r\n"))
            test::PlaySmtp(c, rest);
    });
    smtp_.ReplyTimeoutMs = 10000;
    EXPECT_EQ(smtp_.Deliver(), kMailOversized);
    EXPECT_EQ(peer_.Finish(), Ehlo() + "");
}

TEST_F(SmtpTest, ClosedConnectionMidDialogueEndsCleanly) {
    peer_.Run([](PeerConnection& c) {
        c.Send("220 hi\r\n");
        c.ReadLine();
        c.Send("250 mail.test\r\n");
        c.ReadLine();
        c.Send("250 OK\r\n");
        c.ReadLine(); // the first RCPT; then the server goes away
        c.CloseWrite();
    });
    EXPECT_EQ(smtp_.Deliver(), -2);
    EXPECT_EQ(peer_.Finish(),
              Ehlo() + "MAIL FROM:<ip@example.org>\r\nRCPT TO:<anna@example.org>\r\nQUIT\r\n");
}

TEST(SmtpConnect, RefusedConnectionGivesThree) {
    std::uint16_t port = 0;
    {
        ScriptedPeer probe;
        port = probe.Port();
    }
    TSMTPObject smtp;
    smtp.Server = "127.0.0.1";
    smtp.Port = port;
    smtp.MailFrom = "ip@example.org";
    smtp.MailTo = "anna@example.org";
    EXPECT_EQ(smtp.Deliver(), 3);
}

} // namespace
} // namespace pelorix
