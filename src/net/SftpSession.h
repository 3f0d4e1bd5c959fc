#pragma once
// The FTP connection's operations over SFTP, on libssh (loaded while a session lives, see
// net/SshLibrary.h): connect, check the host key, log in with the password, and store, rename
// and remove files. libssh offers the host key algorithms OpenSSH takes today (rsa-sha2-256/512
// for an RSA key, not only SHA-1's ssh-rsa).
//
// The host key goes to the trust module (net/Trust.h) right after the key exchange; a key that
// is not the stored one ends the connection before the password is sent. Every wait is bounded
// by the calling thread's network deadline; a connection that moves no byte for the stall limit
// is given up. Paths are system text (Latin-1), sent in UTF-8; an absolute path starts at the
// server's root, a relative one at the login directory. One thread per session.

#include "net/SshLibrary.h"
#include "net/Trust.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace pelorix::wininet {

struct SftpLogin {
    std::string Host;
    std::uint16_t Port = 22;
    std::string User;
    std::string Password;
    TrustSetting Trust;
    std::uint32_t ConnectTimeoutMs = 0;
    std::uint32_t ConnectRetries = 1;
    std::uint32_t StallTimeoutMs = 0;
};

// Why the last call failed: a WinInet error number, the reason for the user (libssh's text or
// the SFTP status), and what the server showed when its host key was refused ("SHA256:…")
// together with the whole decision, which names the server.
struct SftpFailure {
    std::uint32_t Error = 0;
    std::string Reason;
    std::string UntrustedKey;
    TrustDecision Refusal;
};

// Status notifications as InternetSession.h numbers them; info holds a text or a 32-bit count.
using SftpNotify = std::function<void(std::uint32_t status, const void* info, std::uint32_t length)>;

class SftpSession {
public:
    SftpSession(SftpLogin login, SftpNotify notify);
    // Closes the connection (at once when the thread's deadline has passed).
    ~SftpSession();
    SftpSession(const SftpSession&) = delete;
    SftpSession& operator=(const SftpSession&) = delete;

    // Looks the host up, connects, checks the host key and logs in.
    bool Connect();
    // The login directory as an absolute path; empty when the server does not tell it.
    std::string HomeDirectory();
    bool IsDirectory(const std::string& path);
    // Stores what is left of source as path (replacing a file of that name).
    bool Put(std::FILE* source, const std::string& path);
    // Renames from to to, replacing a file named to.
    bool Rename(const std::string& from, const std::string& to);
    bool Remove(const std::string& path);

    const SftpFailure& Failure() const { return failure_; }

    struct Watch;

private:
    bool ConnectOnce(const std::string& address);
    bool CheckHostKey();
    bool LogIn();
    bool Fail(std::uint32_t error, std::string reason);
    bool FailSession(std::uint32_t loginError);
    bool FailSftp();
    // Bounds the next wait of libssh by the stall limit and the thread's deadline; false, with
    // the failure kept, when the deadline has passed.
    bool Bound();
    void NotifyText(std::uint32_t status, const std::string& text) const;
    void NotifyCount(std::uint32_t status, std::uint64_t count) const;
    void Close();

    SshHold api_; // first, so that it lets the library go only after everything else is gone
    SftpLogin login_;
    SftpNotify notify_;
    SftpFailure failure_;
    ssh_session session_ = nullptr;
    sftp_session sftp_ = nullptr;
    std::atomic<bool> timedOut_{false};
    bool announced_ = false; // the connection was announced as standing
};

} // namespace pelorix::wininet
