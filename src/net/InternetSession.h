#pragma once
// The internet session the FTP client runs on, standing in for the WinInet functions it uses:
// InternetOpenA (an InternetSession), InternetConnectA for FTP (InternetSession::ConnectFtp,
// which logs in at once), InternetSetStatusCallback, InternetSetOptionA / InternetQueryOptionA,
// InternetGetLastResponseInfoA, InternetCloseHandle (destroying the object),
// FtpSetCurrentDirectoryA, FtpGetCurrentDirectoryA, FtpPutFileA, FtpRenameFileA and
// FtpDeleteFileA. Built on libcurl, SFTP on libssh (net/SftpSession.h); one FtpConnection keeps
// its connection alive between calls. Besides plain FTP the same operations run over FTP with
// TLS, FTPS and SFTP (SetSecurity), with the server's certificate or host key checked before
// the login.
//
// Neither library is linked: each is loaded when the first connection that needs it is made
// and unloaded when the last one is closed, so a program that uploads now and then stays small
// while it idles. Where it cannot be loaded, ConnectFtp fails with kErrorInternetInternalError
// and the loader's reason as the last response.
//
// Everything is synchronous: status notifications reach the registered callback on the calling
// thread, inside the call that caused them. Failures give false (or no object) and leave a
// WinInet error number for LastError() and the server's last reply for GetLastResponseInfo(),
// both kept per thread like WinInet's. A session and its connections belong to one thread.

#include "common/ConnectionMode.h"
#include "net/Trust.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pelorix::wininet {

// Access types of InternetOpenA.
inline constexpr std::uint32_t kOpenTypePreconfig = 0;
inline constexpr std::uint32_t kOpenTypeDirect = 1;
inline constexpr std::uint32_t kOpenTypeProxy = 3;

// Options (4-byte values). Besides WinInet's connect time limit and retry count, the data
// send time limit bounds how long a connection may move no byte before it is abandoned.
inline constexpr std::uint32_t kOptionConnectTimeout = 2;
inline constexpr std::uint32_t kOptionConnectRetries = 3;
inline constexpr std::uint32_t kOptionDataSendTimeout = 7;

inline constexpr std::uint32_t kDefaultConnectTimeoutMs = 300000;
inline constexpr std::uint32_t kDefaultConnectRetries = 3;
inline constexpr std::uint32_t kDefaultStallTimeoutMs = 60000;

// Flags.
inline constexpr std::uint32_t kFlagPassive = 0x08000000;
inline constexpr std::uint32_t kFlagReload = 0x80000000;
inline constexpr std::uint32_t kServiceFtp = 1;
inline constexpr std::uint32_t kTransferTypeUnknown = 0;
inline constexpr std::uint32_t kTransferTypeAscii = 1;
inline constexpr std::uint32_t kTransferTypeBinary = 2;

// Status notifications. 10, 11, 20 and 21 carry the host name or address as text; 31 and 41
// carry a 32-bit byte count (commands and data sent, replies received).
inline constexpr std::uint32_t kStatusResolvingName = 10;
inline constexpr std::uint32_t kStatusNameResolved = 11;
inline constexpr std::uint32_t kStatusConnectingToServer = 20;
inline constexpr std::uint32_t kStatusConnectedToServer = 21;
inline constexpr std::uint32_t kStatusRequestSent = 31;
inline constexpr std::uint32_t kStatusResponseReceived = 41;
inline constexpr std::uint32_t kStatusClosingConnection = 50;
inline constexpr std::uint32_t kStatusConnectionClosed = 51;

// Error numbers.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInternetTimeout = 12002;
inline constexpr std::uint32_t kErrorInternetExtendedError = 12003; // the server refused; see its reply
inline constexpr std::uint32_t kErrorInternetInternalError = 12004;
inline constexpr std::uint32_t kErrorInternetNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorInternetIncorrectUserName = 12013;
inline constexpr std::uint32_t kErrorInternetIncorrectPassword = 12014;
inline constexpr std::uint32_t kErrorInternetLoginFailure = 12015;
inline constexpr std::uint32_t kErrorInternetCannotConnect = 12029;
inline constexpr std::uint32_t kErrorInternetConnectionAborted = 12030;
// This system offers no such connection (a protected one where no TLS or SSH library is at
// hand): nothing was sent.
inline constexpr std::uint32_t kErrorNotSupported = 50;
// The server's certificate or host key is not the one trusted (see LastUntrustedKey).
inline constexpr std::uint32_t kErrorInternetSecurityFailure = 12045;

// What a secured connection trusts instead of the system's certificate authorities: the
// public-key pin of a TLS server ("sha256//BASE64", as curl's --pinnedpubkey takes it) or the
// SHA-256 fingerprint of an SSH host key (base64 without padding, no "SHA256:" in front).
// Empty: a TLS server must verify against the system's authorities and match the host name;
// an SSH server is then not trusted at all.
struct PeerTrust {
    std::string PublicKeyPin;
    std::string HostKeySha256;
};

// After a failure with kErrorInternetSecurityFailure: what the server showed, in the form it
// would be trusted by ("sha256//…" for a TLS server, "SHA256:…" for an SSH host key); empty
// when it could not be seen. Kept per thread.
std::string LastUntrustedKey();
// The same refusal in whole: why, and what the server showed (net/TrustText.h words it).
TrustDecision LastRefusal();
// The last connection was accepted by the authorities although a pin is stored.
bool LastPinUnneeded();

// Why this thread's last failed call failed, for the user: the server's refusing reply when
// there was one, otherwise libcurl's reason.
std::string LastFailureReason();

// One HTTPS GET of url (redirects not followed, the whole exchange bounded by limitMs, at most
// maxBytes kept): response holds the status line, the headers, the empty line and the body as
// received. The server must verify against the system's authorities. False with error set to
// one of kErrorInternetNameNotResolved, kErrorInternetCannotConnect, kErrorInternetTimeout,
// kErrorInternetSecurityFailure (LastUntrustedKey tells what was seen) or another number, and
// reason to libcurl's text.
bool FetchHttps(const std::string& url, std::uint32_t limitMs, std::size_t maxBytes, std::string& response,
                std::uint32_t& error, std::string& reason);

// One plain function serves every handle; context is the value given when the handle was
// made (or with the operation), so the function can reach the object behind it.
using StatusCallback = void (*)(std::uintptr_t context, std::uint32_t status, const void* info,
                                std::uint32_t length);

// The error number of this thread's last failed call (GetLastError after a WinInet call).
std::uint32_t LastError();

// InternetGetLastResponseInfoA: the server's last reply on this thread (lines with CR LF) and
// the error number that went with it; false when there is none.
bool GetLastResponseInfo(std::uint32_t& error, std::string& text);

// The libcurl file loaded on the next first connection ("libcurl.so.4"; empty restores that).
void SetCurlLibraryFile(std::string file);

// Whether libcurl is loaded right now, i.e. some FTP connection is open or being made.
bool CurlLibraryLoaded();

class FtpConnection;
struct SessionSettings;

// InternetOpenA. Options set here apply to every connection of the session, also to those
// already open.
class InternetSession {
public:
    InternetSession(std::string agent, std::uint32_t accessType, std::string proxy, std::string proxyBypass,
                    std::uint32_t flags);
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    // Returns the callback registered before; connections made afterwards inherit it.
    StatusCallback SetStatusCallback(StatusCallback callback);

    // Applies to connections made afterwards.
    void SetSecurity(ConnectionMode security, PeerTrust trust);

    bool SetOption(std::uint32_t option, std::uint32_t value);
    bool QueryOption(std::uint32_t option, std::uint32_t& value) const;

    // InternetConnectA with INTERNET_SERVICE_FTP: connects and logs in. Null on failure, with
    // LastError() telling why (12007, 12029, 12002, 12013, 12014, or a general number).
    std::unique_ptr<FtpConnection> ConnectFtp(const std::string& host, std::uint16_t port,
                                              const std::string& user, const std::string& password,
                                              std::uint32_t flags, std::uintptr_t context);

private:
    std::shared_ptr<SessionSettings> settings_;
};

// One logged-in FTP connection (the handle of InternetConnectA). Closing it (destruction)
// logs out and closes the control connection.
class FtpConnection {
public:
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // InternetSetStatusCallback on this handle; null switches notifications off.
    StatusCallback SetStatusCallback(StatusCallback callback);

    // An absolute directory changes to that path on the server; a relative one is taken from
    // the current directory.
    bool ChangeDirectory(const std::string& directory);

    // What the server's PWD answers.
    bool QueryCurrentDirectory(std::string& directory);

    // Stores the local file under remoteName in the current directory. transferFlags holds
    // kTransferTypeAscii, kTransferTypeBinary or kTransferTypeUnknown (binary).
    bool PutFile(const std::string& localPath, const std::string& remoteName, std::uint32_t transferFlags,
                 std::uintptr_t context);

    // FtpRenameFileA: both names in the current directory; an existing file of the new name is
    // replaced.
    bool RenameFile(const std::string& from, const std::string& to);

    // FtpDeleteFileA, in the current directory.
    bool RemoveFile(const std::string& name);

    struct Impl;

private:
    friend class InternetSession;
    explicit FtpConnection(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace pelorix::wininet
