// TPOP3Object against a scripted server: login outcomes, the overview lists, the summary
// file and every result code.

#include "MailTestPeers.h"
#include "TempDir.h"
#include "mail/SimpleMail.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <string>
#include <vector>

namespace pelorix {
namespace {

using test::PeerConnection;
using test::Pop3Replies;
using test::ScriptedPeer;
using V = std::vector<std::string>;

class Pop3Test : public ::testing::Test {
protected:
    Pop3Test() {
        pop3_.Server = "127.0.0.1";
        pop3_.Port = peer_.Port();
        pop3_.User = "anna";
        pop3_.Password = "geheim";
        pop3_.ConnectTimeoutMs = 2000;
        pop3_.ReplyTimeoutMs = 2000;
        pop3_.SummaryFile = dir_.File("pop3.txt");
    }

    int Check(const Pop3Replies& replies, std::string& sent) {
        peer_.Run([replies](PeerConnection& c) { test::PlayPop3(c, replies); });
        const int code = pop3_.CheckMailbox();
        sent = peer_.Finish();
        return code;
    }

    std::string Summary() const {
        return dir_.Exists("pop3.txt") ? dir_.Read("pop3.txt") : std::string("<none>");
    }

    test::TempDir dir_;
    ScriptedPeer peer_;
    TPOP3Object pop3_;
};

TEST_F(Pop3Test, RefusedStlsSendsNeitherUserNorPassword) {
    pop3_.Security = MailSecurity::StartTls;
    std::string sent;
    EXPECT_EQ(Check(Pop3Replies{}, sent), 3);
    EXPECT_EQ(sent, "STLS\r\nQUIT\r\n");
    EXPECT_EQ(pop3_.SecurityLine, "-POP3-Check gescheitert: Verbindung nicht sicher");
}

TEST_F(Pop3Test, TricklingGreetingEndsWithinTheDialogueLimit) {
    pop3_.DialogueTimeoutMs = 500;
    peer_.Run([](PeerConnection& c) {
        while (c.Send("+"))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(pop3_.CheckMailbox(), kMailSilent);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(Pop3Test, RefusedUserGivesTwoAndNoBoxAfterQuit) {
    Pop3Replies replies;
    replies.user = "-ERR unknown mailbox\r\n";
    std::string sent;
    EXPECT_EQ(Check(replies, sent), 2);
    EXPECT_EQ(sent, "USER anna\r\nQUIT\r\n");
    EXPECT_EQ(Summary(), " NoBox\r\n");
    EXPECT_FALSE(pop3_.LoggedIn);
}

TEST_F(Pop3Test, RefusedPasswordGivesOneAndNoPass) {
    Pop3Replies replies;
    replies.pass = "-ERR invalid password\r\n";
    std::string sent;
    EXPECT_EQ(Check(replies, sent), 1);
    EXPECT_EQ(sent, "USER anna\r\nPASS geheim\r\nQUIT\r\n");
    EXPECT_EQ(Summary(), " NoPass\r\n");
    EXPECT_FALSE(pop3_.LoggedIn);
}

TEST_F(Pop3Test, EmptyMailboxSendsNoListAndCountsZero) {
    std::string sent;
    EXPECT_EQ(Check({}, sent), 0);
    EXPECT_EQ(sent, "USER anna\r\nPASS geheim\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(Summary(), " 00 Msg\r\n");
    EXPECT_TRUE(pop3_.LoggedIn);
    EXPECT_EQ(pop3_.MsgCount, 0);
}

TEST_F(Pop3Test, NegativeStatKeepsCodeZeroAndNoStat) {
    Pop3Replies replies;
    replies.stat = "-ERR busy\r\n";
    std::string sent;
    EXPECT_EQ(Check(replies, sent), 0);
    EXPECT_EQ(sent, "USER anna\r\nPASS geheim\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(Summary(), " NoStat\r\n");
}

TEST_F(Pop3Test, OverviewOfThreeMessagesWithShortUidlAndMissingSubject) {
    Pop3Replies replies;
    replies.stat = "+OK 3 1234\r\n";
    replies.list = "+OK 3 messages\r\n1 120\r\n2 200\r\n3 914\r\n.\r\n";
    replies.uidl = "+OK\r\n1 uid-one\r\n2 uid-two\r\n.\r\n";
    replies.top[1] =
        "+OK\r\nFrom: Anna <anna@example.org>\r\nSubject: Hallo\r\nDate: Thu, 05 Mar 2026 14:05:09 "
        "+0100\r\n\r\nbody\r\n.\r\n";
    replies.top[2] = "+OK\r\nfrom: bob@example.org\r\nDATE: Fri, 06 Mar 2026\r\n\r\n.\r\n";
    replies.top[3] = "-ERR gone\r\n";
    std::string sent;
    EXPECT_EQ(Check(replies, sent), 0);
    EXPECT_EQ(
        sent,
        "USER anna\r\nPASS geheim\r\nSTAT\r\nLIST\r\nUIDL\r\nTOP 1 1\r\nTOP 2 1\r\nTOP 3 1\r\nQUIT\r\n");
    EXPECT_EQ(pop3_.MsgCount, 3);
    EXPECT_EQ(pop3_.SizeList, (V{"0120", "0200", "0914"}));
    EXPECT_EQ(pop3_.UidList, (V{"uid-one", "uid-two", "3"}));
    EXPECT_EQ(pop3_.FromList, (V{"Anna <anna@example.org>", "bob@example.org", "ohne_Angabe"}));
    EXPECT_EQ(pop3_.SubjectList, (V{"Hallo", "ohne_Angabe", "ohne_Angabe"}));
    EXPECT_EQ(pop3_.DateList, (V{"Thu, 05 Mar 2026 14:05:09 +0100", "Fri, 06 Mar 2026", "ohne_Angabe"}));
    EXPECT_EQ(Summary(),
              " 03 Msg\r\n 1|uid-one|Anna <anna@example.org>|Hallo|Thu, 05 Mar 2026 14:05:09 +0100\r\n"
              " 2|uid-two|bob@example.org|ohne_Angabe|Fri, 06 Mar 2026\r\n"
              " 3|3|ohne_Angabe|ohne_Angabe|ohne_Angabe\r\n");
}

TEST_F(Pop3Test, NegativeUidlAndRepliesInPiecesAreCollected) {
    peer_.Run([](PeerConnection& c) {
        c.Send("+OK ready\r\n");
        c.ReadLine();
        c.Send("+OK\r\n");
        c.ReadLine();
        c.Send("+OK\r\n");
        c.ReadLine();
        c.Send("+OK 1 50\r\n");
        c.ReadLine();
        c.Send("+OK\r\n1 50\r\n");
        c.ReadUntil("never", 50);
        c.Send(".\r\n");
        EXPECT_EQ(c.ReadLine(), "UIDL\r\n");
        c.Send("-ERR not supported\r\n"); // no terminating line follows
        EXPECT_EQ(c.ReadLine(), "TOP 1 1\r\n");
        c.Send("+OK\r\nSubject: Teil");
        c.ReadUntil("never", 50);
        c.Send("\r\n.\r\n");
        EXPECT_EQ(c.ReadLine(), "QUIT\r\n");
        c.Send("+OK\r\n");
    });
    EXPECT_EQ(pop3_.CheckMailbox(), 0);
    peer_.Finish();
    EXPECT_EQ(pop3_.UidList, V{"1"});
    EXPECT_EQ(pop3_.SubjectList, V{"Teil"});
    EXPECT_EQ(pop3_.SizeList, V{"050"});
}

TEST_F(Pop3Test, NegativeListEndsTheOverview) {
    Pop3Replies replies;
    replies.stat = "+OK 2 300\r\n";
    replies.list = "-ERR no\r\n";
    std::string sent;
    EXPECT_EQ(Check(replies, sent), 0);
    EXPECT_EQ(sent, "USER anna\r\nPASS geheim\r\nSTAT\r\nLIST\r\nQUIT\r\n");
    EXPECT_EQ(Summary(), " 02 Msg\r\n");
    EXPECT_TRUE(pop3_.SizeList.empty());
}

TEST_F(Pop3Test, HostileCountIsBoundByTheListReply) {
    Pop3Replies replies;
    replies.stat = "+OK 2000000000 1\r\n";
    replies.list = "+OK\r\n1 10\r\n.\r\n";
    std::string sent;
    EXPECT_EQ(Check(replies, sent), 0);
    EXPECT_EQ(pop3_.MsgCount, 2000000000);
    EXPECT_LE(pop3_.SizeList.size(), 3u);
    EXPECT_EQ(pop3_.SizeList.front(), "010");
}

TEST_F(Pop3Test, NegativeGreetingGivesThreeWithoutQuit) {
    Pop3Replies replies;
    replies.greeting = "-ERR go away\r\n";
    std::string sent;
    EXPECT_EQ(Check(replies, sent), 3);
    EXPECT_EQ(sent, "");
    EXPECT_EQ(Summary(), " NoNet\r\n");
}

TEST_F(Pop3Test, MissingParametersGiveFiveWithoutConnection) {
    for (int field = 0; field < 3; ++field) {
        TPOP3Object pop3;
        pop3.Server = field == 0 ? "abc" : "127.0.0.1";
        pop3.User = field == 1 ? "" : "anna";
        pop3.Password = field == 2 ? "" : "pw";
        pop3.Port = peer_.Port();
        pop3.SummaryFile = dir_.File("pop3.txt");
        EXPECT_EQ(pop3.CheckMailbox(), 5);
        EXPECT_EQ(pop3.MsgCount, 0);
    }
    peer_.Run([](PeerConnection& c) { test::PlayPop3(c, {}); }, 200);
    EXPECT_FALSE(peer_.Accepted());
    EXPECT_EQ(Summary(), "<none>");
}

TEST_F(Pop3Test, RefusedConnectionGivesThreeSilenceAndFloodTheirOwnCodes) {
    std::uint16_t closedPort = 0;
    {
        ScriptedPeer probe;
        closedPort = probe.Port();
    }
    pop3_.Port = closedPort;
    EXPECT_EQ(pop3_.CheckMailbox(), 3);
    EXPECT_EQ(Summary(), " NoNet\r\n");

    pop3_.Port = peer_.Port();
    pop3_.ReplyTimeoutMs = 150;
    peer_.Run([](PeerConnection& c) {
        c.Send("+OK ready\r\n");
        c.ReadToEnd(3000);
    });
    EXPECT_EQ(pop3_.CheckMailbox(), kMailSilent);
    EXPECT_EQ(peer_.Finish(), "USER anna\r\n");
    EXPECT_EQ(Summary(), " NoNet\r\n NoBox\r\n");

    // A greeting of a megabyte without a line end is no greeting.
    ScriptedPeer flood;
    pop3_.Port = flood.Port();
    flood.Run([](PeerConnection& c) {
        const std::string chunk(65536, '+');
        for (int i = 0; i < 16 && c.Send(chunk); ++i) {
        }
    });
    EXPECT_EQ(pop3_.CheckMailbox(), kMailOversized);
    EXPECT_EQ(flood.Finish(), "");
}

} // namespace
} // namespace pelorix
