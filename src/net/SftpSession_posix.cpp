#include "net/SftpSession.h"

#include "base/Base64.h"
#include "net/InternetSession.h"
#include "platform/Clock.h"
#include "platform/FileSystemName.h"
#include "platform/NetworkDeadline.h"
#include "platform/TcpSocket.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace pelorix::wininet {

namespace {

constexpr std::size_t kChunk = 32768;
constexpr int kNewFileMode = 0644;
// How often the watch looks at a deadline that may run on another clock than the wall's.
constexpr auto kWatchStep = std::chrono::milliseconds(50);

// The SFTP status codes (as draft-ietf-secsh-filexfer numbers them) in words.
std::string SftpStatusText(int status) {
    switch (status) {
    case SSH_FX_NO_SUCH_FILE:
        return "No such file";
    case SSH_FX_PERMISSION_DENIED:
        return "Permission denied";
    case SSH_FX_FAILURE:
        return "Operation failed";
    case SSH_FX_BAD_MESSAGE:
        return "Bad message";
    case SSH_FX_NO_CONNECTION:
    case SSH_FX_CONNECTION_LOST:
        return "Connection lost";
    case SSH_FX_OP_UNSUPPORTED:
        return "Operation unsupported";
    case SSH_FX_NO_SUCH_PATH:
        return "No such path";
    case SSH_FX_FILE_ALREADY_EXISTS:
        return "File already exists";
    case SSH_FX_WRITE_PROTECT:
        return "Write protected";
    default:
        return "Error " + std::to_string(status);
    }
}

} // namespace

// Some of libssh's waits (an SFTP reply) have no time limit at all: while an operation runs,
// this watch cuts the socket once the thread's deadline or the stall limit has passed, so the
// wait ends with a failure.
struct SftpSession::Watch {
    Watch(socket_t fd, std::uint32_t stallMs, std::atomic<bool>& timedOut)
        : fd_(fd), stallMs_(stallMs), deadline_(NetworkDeadline()), timedOut_(timedOut),
          stallBy_(Deadline::In(SystemClock::Instance(), stallMs)), thread_([this] { Run(); }) {}
    ~Watch() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Bytes moved: the stall limit starts again.
    void Kick() {
        std::lock_guard lock(mutex_);
        stallBy_ = Deadline::In(SystemClock::Instance(), stallMs_);
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!done_) {
            if (deadline_.Passed() || (stallMs_ > 0 && stallBy_.Passed())) {
                timedOut_ = true;
                CutSshSocket(fd_);
                return;
            }
            wake_.wait_for(lock, kWatchStep);
        }
    }

    const socket_t fd_;
    const std::uint32_t stallMs_;
    const Deadline deadline_;
    std::atomic<bool>& timedOut_;
    std::mutex mutex_;
    std::condition_variable wake_;
    Deadline stallBy_;
    bool done_ = false;
    std::thread thread_;
};

SftpSession::SftpSession(SftpLogin login, SftpNotify notify)
    : login_(std::move(login)), notify_(std::move(notify)) {}

SftpSession::~SftpSession() {
    Close();
}

void SftpSession::Close() {
    if (!session_)
        return;
    // Past the deadline the goodbye is not waited for: the socket is cut first.
    if (NetworkDeadlinePassed() && api_->get_fd(session_) != SSH_INVALID_SOCKET)
        CutSshSocket(api_->get_fd(session_));
    // Only a connection announced as standing is announced as closing.
    if (announced_)
        NotifyText(kStatusClosingConnection, {});
    if (sftp_)
        api_->sftp_free(sftp_);
    sftp_ = nullptr;
    api_->disconnect(session_);
    api_->free_session(session_);
    session_ = nullptr;
    if (announced_)
        NotifyText(kStatusConnectionClosed, {});
    announced_ = false;
}

void SftpSession::NotifyText(std::uint32_t status, const std::string& text) const {
    if (notify_)
        notify_(status, text.empty() ? nullptr : text.c_str(), static_cast<std::uint32_t>(text.size()));
}

void SftpSession::NotifyCount(std::uint32_t status, std::uint64_t count) const {
    const auto value = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, UINT32_MAX));
    if (notify_)
        notify_(status, &value, sizeof value);
}

bool SftpSession::Fail(std::uint32_t error, std::string reason) {
    failure_.Error = error;
    failure_.Reason = std::move(reason);
    return false;
}

// A failure of the SSH connection itself: a cut socket is the deadline's doing.
bool SftpSession::FailSession(std::uint32_t error) {
    const std::string reason = api_->get_error(session_);
    if (timedOut_ || NetworkDeadlinePassed())
        return Fail(kErrorInternetTimeout, reason.empty() ? "Timeout" : reason);
    return Fail(error, reason);
}

// A refused SFTP request; without an SFTP status the connection failed underneath.
bool SftpSession::FailSftp() {
    const int status = api_->sftp_get_error(sftp_);
    if (status == SSH_FX_OK || status == SSH_FX_NO_CONNECTION || status == SSH_FX_CONNECTION_LOST)
        return FailSession(kErrorInternetConnectionAborted);
    return Fail(kErrorInternetExtendedError, SftpStatusText(status));
}

bool SftpSession::Bound() {
    const int limitMs =
        CapToNetworkDeadline(login_.StallTimeoutMs > 0 ? static_cast<int>(login_.StallTimeoutMs) : -1);
    if (limitMs == 0)
        return Fail(kErrorInternetTimeout, "Timeout");
    // libssh takes 0 for its own default: no limit is a long one.
    const long microseconds = limitMs < 0 ? 3600L * 1000000L : static_cast<long>(limitMs) * 1000L;
    api_->options_set(session_, SSH_OPTIONS_TIMEOUT_USEC, &microseconds);
    return true;
}

bool SftpSession::Connect() {
    failure_ = {};
    std::string why;
    if (!api_.Take(why))
        return Fail(kErrorInternetInternalError, why);
    NotifyText(kStatusResolvingName, login_.Host);
    std::optional<std::string> address;
    {
        const ScopedNetworkDeadline lookUp(Deadline::In(SystemClock::Instance(), login_.ConnectTimeoutMs));
        address = ResolveIPv4(login_.Host);
    }
    if (!address)
        return Fail(NetworkDeadlinePassed() ? kErrorInternetTimeout : kErrorInternetNameNotResolved,
                    "Could not resolve host: " + login_.Host);
    NotifyText(kStatusNameResolved, *address);
    const std::uint32_t attempts = std::max<std::uint32_t>(1, login_.ConnectRetries);
    for (std::uint32_t attempt = 0; attempt < attempts; ++attempt) {
        if (ConnectOnce(*address))
            break;
        if (failure_.Error != kErrorInternetCannotConnect || attempt + 1 == attempts)
            return false;
    }
    if (!CheckHostKey() || !LogIn())
        return false;
    NotifyText(kStatusConnectedToServer, *address);
    announced_ = true;
    return true;
}

// The connection and the key exchange, within the connect limit.
bool SftpSession::ConnectOnce(const std::string& address) {
    Close();
    NotifyText(kStatusConnectingToServer, address);
    session_ = api_->new_session();
    if (!session_)
        return Fail(kErrorInternetInternalError, "ssh_new failed");
    const ScopedNetworkDeadline connecting(Deadline::In(SystemClock::Instance(), login_.ConnectTimeoutMs));
    const int limitMs = CapToNetworkDeadline(static_cast<int>(login_.ConnectTimeoutMs));
    if (limitMs == 0)
        return Fail(kErrorInternetTimeout, "Timeout");
    const unsigned int port = login_.Port;
    const bool no = false;
    const long microseconds = static_cast<long>(limitMs) * 1000L;
    // Nothing of the user's own SSH set-up (config, known hosts, agent, keys) takes part.
    api_->options_set(session_, SSH_OPTIONS_PROCESS_CONFIG, &no);
    api_->options_set(session_, SSH_OPTIONS_HOST, address.c_str());
    api_->options_set(session_, SSH_OPTIONS_PORT, &port);
    api_->options_set(session_, SSH_OPTIONS_USER, login_.User.c_str());
    api_->options_set(session_, SSH_OPTIONS_TIMEOUT_USEC, &microseconds);
    if (api_->connect(session_) == SSH_OK)
        return true;
    // Without the server's first line nobody answered; after it the key exchange failed.
    const bool answered = api_->get_serverbanner(session_) != nullptr;
    return FailSession(answered ? kErrorInternetConnectionAborted : kErrorInternetCannotConnect);
}

bool SftpSession::CheckHostKey() {
    ssh_key key = nullptr;
    char* base64 = nullptr;
    std::string blob;
    if (api_->get_server_publickey(session_, &key) == SSH_OK &&
        api_->export_pubkey_base64(key, &base64) == SSH_OK)
        blob = DecodeBase64(base64);
    if (base64)
        api_->string_free_char(base64);
    if (key)
        api_->key_free(key);
    TrustDecision decision = pelorix::CheckHostKey(blob, login_.Trust);
    if (decision.Accepted())
        return true;
    decision.Host = login_.Host; // for the question and the warning, which name the server
    failure_.UntrustedKey = decision.HostKey.Fingerprint;
    failure_.Refusal = decision;
    return Fail(kErrorInternetSecurityFailure, "SSH host key not trusted");
}

bool SftpSession::LogIn() {
    if (!Bound())
        return false;
    const Watch watch(api_->get_fd(session_), login_.StallTimeoutMs, timedOut_);
    switch (api_->userauth_password(session_, nullptr, login_.Password.c_str())) {
    case SSH_AUTH_SUCCESS:
        break;
    case SSH_AUTH_DENIED:
    case SSH_AUTH_PARTIAL:
        return Fail(kErrorInternetIncorrectPassword, "Authentication failed");
    default:
        return FailSession(kErrorInternetLoginFailure);
    }
    sftp_ = api_->sftp_new(session_);
    if (!sftp_)
        return FailSession(kErrorInternetLoginFailure);
    if (api_->sftp_init(sftp_) != SSH_OK)
        return FailSftp();
    return true;
}

std::string SftpSession::HomeDirectory() {
    if (!Bound())
        return {};
    const Watch watch(api_->get_fd(session_), login_.StallTimeoutMs, timedOut_);
    char* path = api_->sftp_canonicalize_path(sftp_, ".");
    if (!path)
        return {};
    std::string home = SystemTextOfName(path);
    api_->string_free_char(path);
    return !home.empty() && home.front() == '/' ? home : std::string();
}

bool SftpSession::IsDirectory(const std::string& path) {
    if (!Bound())
        return false;
    const Watch watch(api_->get_fd(session_), login_.StallTimeoutMs, timedOut_);
    const sftp_attributes attributes = api_->sftp_stat(sftp_, Utf8Name(path).c_str());
    if (!attributes)
        return FailSftp();
    const bool directory = attributes->type == SSH_FILEXFER_TYPE_DIRECTORY;
    api_->sftp_attributes_free(attributes);
    return directory || Fail(kErrorInternetExtendedError, "Not a directory");
}

bool SftpSession::Put(std::FILE* source, const std::string& path) {
    if (!Bound())
        return false;
    Watch watch(api_->get_fd(session_), login_.StallTimeoutMs, timedOut_);
    const sftp_file file =
        api_->sftp_open(sftp_, Utf8Name(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, kNewFileMode);
    if (!file)
        return FailSftp();
    auto buffer = std::make_unique<char[]>(kChunk);
    bool written = true;
    while (written) {
        const std::size_t n = std::fread(buffer.get(), 1, kChunk, source);
        if (n == 0)
            break;
        written = api_->sftp_write(file, buffer.get(), n) == static_cast<ssize_t>(n);
        if (written) {
            watch.Kick();
            NotifyCount(kStatusRequestSent, n);
        }
    }
    if (!written) {
        api_->sftp_close(file);
        return FailSftp();
    }
    if (std::ferror(source)) {
        api_->sftp_close(file);
        return Fail(kErrorInternetInternalError, "Cannot read the file");
    }
    // The server tells only now whether it kept everything.
    return api_->sftp_close(file) == SSH_OK || FailSftp();
}

bool SftpSession::Rename(const std::string& from, const std::string& to) {
    if (!Bound())
        return false;
    const Watch watch(api_->get_fd(session_), login_.StallTimeoutMs, timedOut_);
    const std::string oldPath = Utf8Name(from);
    const std::string newPath = Utf8Name(to);
    if (api_->sftp_rename(sftp_, oldPath.c_str(), newPath.c_str()) == SSH_OK)
        return true;
    // An SFTP server of protocol version 3 does not rename onto an existing file; the old one
    // goes first then (for a moment there is no page, but never half of one).
    if (api_->sftp_unlink(sftp_, newPath.c_str()) != SSH_OK &&
        api_->sftp_get_error(sftp_) != SSH_FX_NO_SUCH_FILE)
        return FailSftp();
    return api_->sftp_rename(sftp_, oldPath.c_str(), newPath.c_str()) == SSH_OK || FailSftp();
}

bool SftpSession::Remove(const std::string& path) {
    if (!Bound())
        return false;
    const Watch watch(api_->get_fd(session_), login_.StallTimeoutMs, timedOut_);
    return api_->sftp_unlink(sftp_, Utf8Name(path).c_str()) == SSH_OK || FailSftp();
}

} // namespace pelorix::wininet
