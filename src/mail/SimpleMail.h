#pragma once
// The mail clients both programs use: an SMTP client that sends one plain-text mail (with
// optional attachments), a POP3 client that logs in to a mailbox and reads its overview, and
// the small stateless helpers they share (base64, line wrapping, header encoding, connect,
// one command, one positive/negative reply). All texts are Latin-1 bytes. The objects are
// used by one thread at a time: the service's worker or the manager's GUI thread.

#include "platform/Clock.h"
#include "platform/NetworkDeadline.h"
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
// However a server trickles its bytes and the name servers stall, one whole dialogue (its name
// look-ups and connect included) ends within this time; so does a whole mail job.
inline constexpr int kMailDialogueTimeoutMs = 120000;

inline constexpr std::uint16_t kSmtpPort = 25;
inline constexpr std::uint16_t kPop3Port = 110;

// Result codes both clients give beside their own: the server accepted the connection and then
// stopped answering; it sent a reply beyond any sensible size; (SMTP) it asks for a protected
// connection before it takes a mail.
inline constexpr int kMailSilent = 6;
inline constexpr int kMailOversized = 7;
inline constexpr int kMailProtectionRequired = 8;

// How a mail connection is protected ([SendMail] Security): "none" plain, "starttls" upgraded
// with STARTTLS / STLS (never falling back to plain), "tls" TLS from the first byte.
enum class MailSecurity { None, StartTls, Tls };
MailSecurity ParseMailSecurity(std::string_view text);
std::string MailSecurityText(MailSecurity security);
// The port for a configured port of 0: 25 / 587 / 465 for SMTP, 110 / 110 / 995 for POP3.
std::uint16_t SmtpPortFor(MailSecurity security, int configured);
std::uint16_t Pop3PortFor(MailSecurity security, int configured);

// The level-0 line of a connection that could not be made secure.
std::string InsecureMailLine();
std::string InsecurePop3Line();

// Inserts CR LF so that no piece of the line runs far past column 79: behind the last blank
// of the piece, or after its 79th character when the piece has no blank.
std::string WrapMailLine(std::string_view line);

// Writes every blank-delimited word holding a byte >= 128 (or something a reader would take
// for an encoded word) as Q-encoded words (=?iso-8859-1?Q?...?=) of at most 75 characters, with
// everything but letters, digits and "!*+-/" escaped; neighbouring such words are encoded
// together (the blanks as "_") and the encoded words separated by single blanks, where a header
// may be folded. Pure ASCII comes back unchanged.
std::string EncodeHeaderText(std::string_view text);

// A header line "Name: " + the units joined by blanks, folded (CR LF and a blank) in front of a
// unit that would carry the line past 78 characters. A unit longer than a line is folded at
// its own blanks.
std::string FoldHeader(std::string_view name, const std::vector<std::string>& units);

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
// or silence beyond timeoutMs give false; timedOut (when given) tells the last case apart. A
// line beyond any sensible size raises mailwire::Oversized.
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
    int DialogueTimeoutMs = kMailDialogueTimeoutMs;
    MailSecurity Security = MailSecurity::None;
    std::string Trust;      // [SendMail] Trust: empty for the system's CAs, or a public-key pin
    std::string HeloName;   // the EHLO argument; empty: this computer's full name where the
                            // system knows it, else the address literal of the local end
    std::string MessageId;  // empty: a new unique id
    bool CheckOnly = false; // connect, secure and log in, then QUIT without a mail

    // After Deliver: the level-0 line when the connection could not be made secure, and the pin
    // of the key the server showed (also when it was not trusted).
    std::string SecurityLine;
    std::string SeenPin;
    // After a Deliver the server refused: its last negative reply.
    std::string RefusalReply;

    void SetMailText(std::string_view text);

    // 0 sent to all recipients, -1 some recipient refused, -2 no recipient accepted, -3
    // stopped at or after MAIL FROM, -4 authentication failed, 1 greeting/EHLO/HELO failed,
    // 3 connection refused, 4 no network, 5 parameters missing, kMailSilent,
    // kMailOversized, kMailProtectionRequired.
    int Deliver();

private:
    void RunSession(int& code);
    // TLS on the open connection; false with SecurityLine set when it is not trusted.
    bool Secure();
    // EHLO (HELO where EHLO is refused), and with "starttls" STARTTLS and the second EHLO.
    // False after a failure (the code stays 1); capabilities gets the last EHLO reply, helo
    // tells that only HELO was accepted.
    bool Greet(std::string& capabilities, bool& helo);
    bool Authenticate(const std::string& capabilities);
    // Reads one whole reply: every continuation line, however the lines arrive, up to the
    // last one ("NNN text" or "NNN" alone). Gives the last receive's count like ReceiveOnce.
    long ReadReply(std::string& reply);
    std::string NewMessageId() const;
    bool NameRecipients(std::string& summary, bool& anyAccepted, bool& allAccepted);
    void SendMailMessage();
    void SendHeader(const std::string& boundary);
    void SendAttachment(const std::string& path);
    void SendLine(std::string_view text);
    std::string FormatDateHeader() const;
    std::string Boundary() const;

    const IClock& clock_;
    std::ofstream trace_;
    std::string fullName_;    // this computer's fully qualified name, looked up once per mail
    std::string lastRefusal_; // the last negative reply of this dialogue
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
    int DialogueTimeoutMs = kMailDialogueTimeoutMs;
    MailSecurity Security = MailSecurity::None;
    std::string Trust;

    // After CheckMailbox, as for TSMTPObject.
    std::string SecurityLine;
    std::string SeenPin;

    // 0 logged in, 1 password refused, 2 user refused, 3 connection refused or no positive
    // greeting, 4 no network, 5 parameters missing, kMailSilent, kMailOversized.
    int CheckMailbox();

private:
    void RunCheck(int& code, std::string& summary);
    bool Secure();
    void ReadOverview(std::string& summary);
    bool Command(std::string_view text);
    // Collects a reply: until the text holds a line feed (single) or LF "." CR LF (multi),
    // or a receive gives 0 or less. A negative multi-line reply ends at its first line.
    // closed tells whether the connection ended during the collection.
    std::string Collect(bool multiLine, std::size_t chunk, bool& closed);
};

} // namespace pelorix
