#pragma once
// The mail clients both programs use: an SMTP client that sends one plain-text mail (with
// optional attachments), a POP3 client that logs in to a mailbox and reads its overview, and
// the small stateless helpers they share (base64, line wrapping, header encoding, connect,
// one command, one positive/negative reply). All texts are Latin-1 bytes. The objects are
// used by one thread at a time: the service's worker or the manager's GUI thread.

#include "platform/Clock.h"
#include "platform/TcpSocket.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

// How long the clients wait for a connection and for each receive. A server that stops
// answering ends the dialogue (code 4) instead of holding the caller for ever.
inline constexpr int kMailConnectTimeoutMs = 20000;
inline constexpr int kMailReplyTimeoutMs = 60000;

inline constexpr std::uint16_t kSmtpPort = 25;
inline constexpr std::uint16_t kPop3Port = 110;

// Base64 (RFC 4648 alphabet) in one line, without line breaks.
std::string EncodeBase64(std::string_view bytes);
// Skips control characters and "=", maps unknown characters to 0, drops left-over bits.
std::string DecodeBase64(std::string_view text);

// Inserts CR LF so that no piece of the line runs far past column 79: behind the last blank
// of the piece, or after its 79th character when the piece has no blank.
std::string WrapMailLine(std::string_view line);

// Writes every blank-delimited word holding a byte >= 128 as a Q-encoded word
// (=?iso-8859-1?Q?...?=); two such words with one blank between become one encoded word
// (the blank as "_"), so readers keep the blank. Pure ASCII comes back unchanged.
std::string EncodeHeaderText(std::string_view text);

// Splits a text into lines at CR LF, a lone CR or a lone LF; a final line break adds no
// empty line.
std::vector<std::string> SplitMailLines(std::string_view text);

// Connects to host:port. code: 0 connected, 3 refused (or not answered in time), 4 no
// network (name not resolved, no socket). The returned socket is open only for code 0.
TcpSocket MailConnect(const std::string& host, std::uint16_t port, int& code,
                      int connectTimeoutMs = kMailConnectTimeoutMs);

// Sends text + CR LF. Gives the count of bytes handed over, or -1.
int SendMailCommand(TcpSocket& sock, std::string_view text, int timeoutMs = kMailReplyTimeoutMs);

// Reads one reply line; true when it begins with "+". A closed connection, a receive error
// or silence beyond timeoutMs give false; timedOut (when given) tells the last case apart.
bool ReadPositiveReply(TcpSocket& sock, int timeoutMs = kMailReplyTimeoutMs, bool* timedOut = nullptr);

// Sends one mail over SMTP; one object per message. The caller fills the fields and calls
// Deliver once.
class TSMTPObject {
public:
    explicit TSMTPObject(const IClock& clock = SystemClock::Instance());

    TcpSocket Sock;
    std::string Server;
    std::string MailTo;
    std::string MailCC;
    std::string MailBCC;
    std::string MailFrom;
    std::string SenderName;
    std::string AuthUser;
    std::string AuthPass;
    std::string ReplyTo;
    std::string Subject;
    bool TraceOn = false;
    std::string TraceFile;
    std::string SummaryFile;
    std::vector<std::string> Lines;
    std::vector<std::string> Attachments;

    std::uint16_t Port = kSmtpPort;
    int ConnectTimeoutMs = kMailConnectTimeoutMs;
    int ReplyTimeoutMs = kMailReplyTimeoutMs;

    void SetMailText(std::string_view text);

    // 0 sent to all recipients, -1 some recipient refused, -2 no recipient accepted, -3
    // stopped at or after MAIL FROM, -4 authentication failed, 1 greeting/EHLO/HELO failed,
    // 3 connection refused, 4 no network or the server stopped answering, 5 parameters missing.
    int Deliver();

private:
    void RunSession(int& code);
    bool Authenticate();
    bool NameRecipients(std::string& summary, bool& anyAccepted, bool& allAccepted);
    void SendMessage();
    void SendHeader(const std::string& boundary);
    void SendAttachment(const std::string& path);
    void SendLine(std::string_view text);
    // One receive of at most 1022 bytes; -1 on error, 0 when the peer closed.
    long ReceiveOnce(std::string& reply);
    // Receives and appends until the text holds a line feed or a receive gives 0 or less.
    std::string CollectLine();
    std::string FormatDateHeader() const;
    std::string Boundary() const;

    const IClock& clock_;
    std::ofstream trace_;
};

// Logs in to a POP3 mailbox and reads its overview; one object per check.
class TPOP3Object {
public:
    TPOP3Object() = default;

    TcpSocket Sock;
    std::string Server;
    std::string User;
    std::string Password;
    std::string SummaryFile;
    int MsgCount = -1;
    std::vector<std::string> FromList;
    std::vector<std::string> SubjectList;
    std::vector<std::string> DateList;
    std::vector<std::string> SizeList;
    std::vector<std::string> UidList;
    bool LoggedIn = false;

    std::uint16_t Port = kPop3Port;
    int ConnectTimeoutMs = kMailConnectTimeoutMs;
    int ReplyTimeoutMs = kMailReplyTimeoutMs;

    // 0 logged in, 1 password refused, 2 user refused, 3 connection refused or no positive
    // greeting, 4 no network or the server stopped answering, 5 parameters missing.
    int CheckMailbox();

private:
    void RunCheck(int& code, std::string& summary);
    void ReadOverview(std::string& summary);
    bool Command(std::string_view text);
    // Collects a reply: until the text holds a line feed (single) or LF "." CR LF (multi),
    // or a receive gives 0 or less. A negative multi-line reply ends at its first line.
    // closed tells whether the connection ended during the collection.
    std::string Collect(bool multiLine, std::size_t chunk, bool& closed);
};

} // namespace pelorix
