#pragma once
// Internals the two mail clients share: single receives with a time limit and the silence
// signal that ends a dialogue. Not part of the clients' interface.

#include "platform/TcpSocket.h"

#include <cstddef>
#include <string>

namespace pelorix::mailwire {

// Raised inside a dialogue when the server stopped answering (or stopped taking data); the
// clients turn it into kMailSilent before it leaves them.
struct Silence {};

// Raised inside a dialogue when a reply grows beyond any sensible size; the clients turn it
// into kMailOversized.
struct Oversized {};

// No reply the clients wait for comes near this size (a mailbox overview included).
inline constexpr std::size_t kMaxReplyBytes = 4 * 1024 * 1024;
// A command's reply (a greeting, an EHLO list) is a few lines; a line that long is not one.
inline constexpr std::size_t kMaxLineReplyBytes = 64 * 1024;

// One receive of at most maxBytes, appended to text. Gives the count, 0 when the peer closed,
// -1 on a receive error; raises Silence when nothing came within timeoutMs, Oversized when
// text grows beyond limit.
long ReceiveAppend(TcpSocket& sock, std::string& text, std::size_t maxBytes, int timeoutMs,
                   std::size_t limit = kMaxReplyBytes);

// Sends all bytes; raises Silence when the peer stops taking them. Gives the count or -1.
long SendBytes(TcpSocket& sock, const std::string& bytes, int timeoutMs);

// Receives in pieces of at most 1022 bytes until a line end came, the
// peer closed or a receive failed; gives what came. Raises Silence like ReceiveAppend, and
// Oversized beyond kMaxLineReplyBytes.
std::string ReceiveLine(TcpSocket& sock, int timeoutMs);

// TLS on an open mail connection by the trust text (see net/Trust.h). True when trusted; else
// line is the level-0 line (failLine, or the certificate line naming the key the server
// showed). Raises Silence when the server did not finish the handshake in time.
bool SecureConnection(TcpSocket& sock, const std::string& host, const std::string& trust, int timeoutMs,
                      const std::string& failLine, std::string& line, std::string& seenPin);

// Adds line and a line end to the summary file; nothing when no file is named.
void AppendSummaryLine(const std::string& file, const std::string& line);

// Uppercase of the ASCII letters; other bytes unchanged.
std::string UpperAscii(std::string text);

} // namespace pelorix::mailwire
