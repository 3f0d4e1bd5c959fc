// The mail helpers: line wrapping, header encoding, line splitting, connect and the
// single positive/negative reply.

#include "mail/SimpleMail.h"
#include "ScriptedPeer.h"
#include "base/Latin1.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>

namespace pelorix {
namespace {

TEST(WrapMailLine, ShortLinesStayUnchanged) {
    const std::string line79(79, 'x');
    EXPECT_EQ(WrapMailLine(line79), line79);
    EXPECT_EQ(WrapMailLine(""), "");
    // From 80 characters on the line breaks, here hard, since no blank comes before the limit.
    EXPECT_EQ(WrapMailLine(line79 + " "), line79 + "\r\n ");
}

TEST(WrapMailLine, BreaksBehindTheLastBlankBeforeTheLimit) {
    // Ten-character words: blanks at columns 10, 21, ..., 65, 76; a 100-character line.
    std::string line;
    while (line.size() < 100)
        line += "abcdefghi ";
    line.resize(100);
    const std::string wrapped = WrapMailLine(line);
    EXPECT_EQ(wrapped, line.substr(0, 70) + "\r\n" + line.substr(70));
    EXPECT_EQ(wrapped.substr(68, 4), "i \r\n");
}

TEST(WrapMailLine, LongLinesBreakPieceAfterPiece) {
    std::string line;
    for (int i = 0; i < 30; ++i)
        line += "word" + std::to_string(i) + " ";
    const std::string wrapped = WrapMailLine(line);
    std::size_t start = 0;
    int pieces = 0;
    for (std::size_t at = wrapped.find("\r\n"); at != std::string::npos; at = wrapped.find("\r\n", start)) {
        const std::string piece = wrapped.substr(start, at - start);
        // The count starts anew at the break, so a piece may run a few characters past 79.
        EXPECT_LE(piece.size(), 90u) << piece;
        EXPECT_EQ(piece.back(), ' ');
        start = at + 2;
        ++pieces;
    }
    EXPECT_GE(pieces, 2);
    std::string rejoined = wrapped;
    for (std::size_t at; (at = rejoined.find("\r\n")) != std::string::npos;)
        rejoined.erase(at, 2);
    EXPECT_EQ(rejoined, line);
}

TEST(WrapMailLine, PieceWithoutBlankBreaksHardAfter79Characters) {
    const std::string line(200, 'y');
    EXPECT_EQ(WrapMailLine(line),
              std::string(79, 'y') + "\r\n" + std::string(79, 'y') + "\r\n" + std::string(42, 'y'));
    // A blank in an earlier piece does not pull the break back to that piece.
    const std::string mixed = "ab " + std::string(200, 'z');
    const std::string wrapped = WrapMailLine(mixed);
    EXPECT_EQ(wrapped.substr(0, 5), "ab \r\n");
    EXPECT_EQ(wrapped.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(wrapped.find("\r\n", 5), 158u);
    EXPECT_EQ(wrapped.size(), mixed.size() + 4);
}

TEST(EncodeHeaderText, EncodesOnlyWordsWithNonAsciiLetters) {
    EXPECT_EQ(EncodeHeaderText("plain ASCII text"), "plain ASCII text");
    EXPECT_EQ(EncodeHeaderText("Grüße an Jörg"_l1), "=?iso-8859-1?Q?Gr=FC=DFe?= an =?iso-8859-1?Q?J=F6rg?=");
    EXPECT_EQ(EncodeHeaderText("ä"_l1), "=?iso-8859-1?Q?=E4?=");
    EXPECT_EQ(EncodeHeaderText("IP ändert"_l1), "IP =?iso-8859-1?Q?=E4ndert?=");
    EXPECT_EQ(EncodeHeaderText(""), "");
    // Neighbouring encoded words share one encoded word, so readers keep the blank.
    EXPECT_EQ(EncodeHeaderText("für Jörg"_l1), "=?iso-8859-1?Q?f=FCr_J=F6rg?=");
    EXPECT_EQ(EncodeHeaderText("Grüße für Jörg!"_l1), "=?iso-8859-1?Q?Gr=FC=DFe_f=FCr_J=F6rg!?=");
    EXPECT_EQ(EncodeHeaderText("ä  ö"_l1), "=?iso-8859-1?Q?=E4?=  =?iso-8859-1?Q?=F6?=");
}

TEST(EncodeHeaderText, EscapesWhatReadersWouldMisreadAndKeepsWordsShort) {
    EXPECT_EQ(EncodeHeaderText("Neue IP für Jörg? %IP%"_l1), "Neue IP =?iso-8859-1?Q?f=FCr_J=F6rg=3F?= %IP%");
    EXPECT_EQ(EncodeHeaderText("Server_Büro = Jörg"_l1),
              "=?iso-8859-1?Q?Server=5FB=FCro?= = =?iso-8859-1?Q?J=F6rg?=");
    EXPECT_EQ(EncodeHeaderText("=?x?Q?y?="), "=?iso-8859-1?Q?=3D=3Fx=3FQ=3Fy=3F=3D?=");
    // 60 escapes of three characters: words of 19, 19, 19 and 3, no escape split.
    const std::string encoded = EncodeHeaderText(std::string(60, '\xe4'));
    const std::string word = "=?iso-8859-1?Q?" + std::string(19 * 3, '=') + "?=";
    std::size_t words = 0;
    for (std::size_t start = 0; start <= encoded.size(); ++words) {
        const std::size_t end = std::min(encoded.find(' ', start), encoded.size());
        EXPECT_LE(end - start, 75u);
        EXPECT_EQ(encoded.compare(start, 15, "=?iso-8859-1?Q?"), 0);
        EXPECT_EQ(encoded.compare(end - 5, 5, "=E4?="), 0);
        start = end + 1;
    }
    EXPECT_EQ(words, 4u);
}

TEST(FoldHeader, FoldsInFrontOfTheUnitThatWouldPassColumn78) {
    EXPECT_EQ(FoldHeader("Subject", {"short"}), "Subject: short");
    const std::vector<std::string> units(12, "Anna Muster <a@example.org>,");
    const std::string folded = FoldHeader("To", units);
    std::string unfolded = "To:";
    for (const std::string& unit : units)
        unfolded += " " + unit;
    std::string joined;
    std::size_t start = 0;
    for (std::size_t end = folded.find("\r\n"); start <= folded.size(); end = folded.find("\r\n", start)) {
        end = std::min(end, folded.size());
        EXPECT_LE(end - start, 78u);
        // Folded between entries only: every continuation line starts with a whole entry.
        EXPECT_EQ(folded.compare(start, start == 0 ? 4 : 6, start == 0 ? "To: " : " Anna "), 0);
        joined += folded.substr(start, end - start);
        start = end + 2;
    }
    EXPECT_EQ(joined, unfolded);
}

TEST(SplitMailLines, KeepsInnerEmptyLinesAndDropsTheFinalBreak) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitMailLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitMailLines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitMailLines(""), V{});
    EXPECT_EQ(SplitMailLines("\r\n"), V{""});
}

TEST(MailConnect, UnresolvableNameGivesFourAndRefusedGivesThree) {
    int code = -1;
    TcpSocket sock = MailConnect("", 25, code, 500);
    EXPECT_FALSE(sock.IsOpen());
    EXPECT_EQ(code, 4);

    std::uint16_t closedPort = 0;
    {
        test::ScriptedPeer probe; // a free port, closed again at the end of this block
        closedPort = probe.Port();
    }
    sock = MailConnect("127.0.0.1", closedPort, code, 2000);
    EXPECT_FALSE(sock.IsOpen());
    EXPECT_EQ(code, 3);
}

TEST(ReadPositiveReply, FirstCharacterDecides) {
    for (const auto& [reply, expected] : std::vector<std::pair<std::string, bool>>{
             {"+OK fine\r\n", true}, {"-ERR no\r\n", false}, {"OK\r\n", false}}) {
        test::ScriptedPeer peer;
        peer.Run([&](test::PeerConnection& c) {
            EXPECT_EQ(c.ReadLine(), "NOOP\r\n");
            c.Send(reply);
        });
        int code = -1;
        TcpSocket sock = MailConnect("127.0.0.1", peer.Port(), code, 2000);
        ASSERT_EQ(code, 0);
        SendMailCommand(sock, "NOOP");
        EXPECT_EQ(ReadPositiveReply(sock, 2000), expected) << reply;
        sock.Close();
        peer.Finish();
    }
}

TEST(ReadPositiveReply, ReplyInPiecesClosedConnectionAndSilence) {
    {
        test::ScriptedPeer peer;
        peer.Run([](test::PeerConnection& c) {
            c.Send("+O");
            c.ReadUntil("x", 100); // a moment, so the two pieces arrive apart
            c.Send("K\r\n");
        });
        int code = -1;
        TcpSocket sock = MailConnect("127.0.0.1", peer.Port(), code, 2000);
        EXPECT_TRUE(ReadPositiveReply(sock, 2000));
    }
    {
        test::ScriptedPeer peer;
        peer.Run([](test::PeerConnection& c) { c.CloseWrite(); }); // closes without a byte
        int code = -1;
        TcpSocket sock = MailConnect("127.0.0.1", peer.Port(), code, 2000);
        bool timedOut = true;
        EXPECT_FALSE(ReadPositiveReply(sock, 2000, &timedOut));
        EXPECT_FALSE(timedOut);
    }
    {
        test::ScriptedPeer peer;
        peer.Run([](test::PeerConnection& c) { c.ReadToEnd(); });
        int code = -1;
        TcpSocket sock = MailConnect("127.0.0.1", peer.Port(), code, 2000);
        bool timedOut = false;
        EXPECT_FALSE(ReadPositiveReply(sock, 100, &timedOut));
        EXPECT_TRUE(timedOut);
    }
}

} // namespace
} // namespace pelorix
