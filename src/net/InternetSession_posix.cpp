#include "net/InternetSession.h"

#include "net/CurlLibrary.h"
#include "net/CurlSession.h"
#include "net/FtpReply.h"
#include "net/SftpSession.h"
#include "platform/Clock.h"
#include "platform/FileSystemName.h"
#include "platform/NetworkDeadline.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

namespace pelorix::wininet {

using namespace curl;

struct SessionSettings {
    std::string agent;
    std::uint32_t accessType = kOpenTypeDirect;
    std::string proxy;
    std::string proxyBypass;
    StatusCallback callback = nullptr;
    std::uint32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
    std::uint32_t connectRetries = kDefaultConnectRetries;
    std::uint32_t stallTimeoutMs = kDefaultStallTimeoutMs;
    ConnectionMode security = ConnectionMode::Plain;
    PeerTrust trust;
};

namespace {

constexpr std::size_t kMaxReplyKept = 65536;

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string AddressText(const curl_sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address->addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    } else if (address->family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address->addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    }
    return text;
}

} // namespace

std::uint32_t LastError() {
    return tLastError;
}

std::string LastUntrustedKey() {
    return tLastUntrusted;
}

TrustDecision LastRefusal() {
    return tLastRefusal;
}

bool LastPinUnneeded() {
    return tLastPinUnneeded;
}

std::string LastFailureReason() {
    // A reply of class 4 or 5 is the server's own refusal; anything else is told best by libcurl.
    const bool refused = !tLastResponse.empty() && (tLastResponse[0] == '4' || tLastResponse[0] == '5');
    if (refused || tLastReason.empty())
        return tLastResponse;
    return tLastReason;
}

bool GetLastResponseInfo(std::uint32_t& error, std::string& text) {
    error = tLastResponseError;
    text = tLastResponse;
    return !tLastResponse.empty();
}

// ---------------------------------------------------------------------------------------------

struct FtpConnection::Impl {
    enum class Call { Login, ChangeDir, PrintDir, Put };

    struct Reply {
        std::string command; // verb of the command it answers; empty for the greeting
        std::string text;
    };

    CurlHold api; // first, so that it lets the library go only after everything else is gone
    std::shared_ptr<SessionSettings> settings;
    CURL* curl = nullptr;
    std::string host;
    std::uint16_t port = 21;
    std::string user;
    std::string password;
    bool passive = false;
    ConnectionMode security = ConnectionMode::Plain;
    PeerTrust trust;
    PeerCheck peerCheck;
    // SFTP runs on libssh, not on libcurl (which offers OpenSSH no RSA host key it still takes).
    std::unique_ptr<SftpSession> sftp;
    char errorText[CURL_ERROR_SIZE] = {};
    StatusCallback callback = nullptr;
    std::uintptr_t context = 0;
    std::uintptr_t activeContext = 0;

    // Current directory on the server: absolute, or relative to the login directory when the
    // server did not tell its absolute entry path (empty: the login directory itself).
    std::string currentDir;

    // Names are Latin-1 text; a server that announces UTF8 takes them in UTF-8. Asked only
    // when a name goes beyond ASCII, where the two differ. (SFTP always takes UTF-8.)
    bool utf8Asked = false;
    bool utf8Names = false;

    curl_socket_t controlFd = CURL_SOCKET_BAD;
    curl_socket_t pendingFd = CURL_SOCKET_BAD;
    std::string pendingAddress;
    std::vector<Reply> replies;
    curl_off_t uploaded = 0;
    KnownAddress address;
    std::FILE* source = nullptr;

    ~Impl() {
        sftp.reset(); // it tells its closing through this object
        // Past the thread's network deadline the server's goodbye is not waited for: the
        // control connection is cut, so the QUIT of the clean-up ends at once.
        if (controlFd != CURL_SOCKET_BAD && NetworkDeadlinePassed())
            ::shutdown(controlFd, SHUT_RDWR);
        if (curl)
            api->easy_cleanup(curl);
    }

    void Notify(std::uint32_t status, const void* info, std::uint32_t length) const {
        if (callback)
            callback(activeContext, status, info, length);
    }
    void NotifyText(std::uint32_t status, const std::string& text) const {
        Notify(status, text.c_str(), static_cast<std::uint32_t>(text.size()));
    }
    void NotifyCount(std::uint32_t status, std::uint64_t count) const {
        const auto value = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, UINT32_MAX));
        Notify(status, &value, sizeof value);
    }

    bool Sftp() const { return security == ConnectionMode::Sftp; }
    bool Tls() const {
        return security == ConnectionMode::ExplicitTls || security == ConnectionMode::ImplicitTls;
    }

    std::string Scheme() const {
        switch (security) {
        case ConnectionMode::ImplicitTls:
            return "ftps";
        default:
            return "ftp";
        }
    }

    std::string BaseUrl() const { return Scheme() + "://" + host + ":" + std::to_string(port) + "/"; }

    // URL of a file (or, with an empty name, of the directory itself) below directory. An
    // absolute directory becomes "%2F…" so that one CWD to the whole path is sent.
    std::string Url(const std::string& directory, const std::string& name) const {
        std::string path;
        if (!directory.empty())
            path = Escape(OnTheWire(directory)) + "/";
        return BaseUrl() + path + Escape(OnTheWire(name));
    }

    std::string OnTheWire(const std::string& name) const { return utf8Names ? Utf8Name(name) : name; }

    // Before the first name beyond ASCII: FEAT, and OPTS UTF8 ON where the server announced UTF8.
    void AgreeOnNames(const std::string& names) {
        if (utf8Asked || IsAscii(names))
            return;
        utf8Asked = true;
        char feat[] = "*FEAT";
        curl_slist askFeatures{feat, nullptr};
        if (Perform(Url(currentDir, {}), Call::PrintDir, &askFeatures) != CURLE_OK)
            return;
        const bool announced = std::any_of(replies.begin(), replies.end(), [](const Reply& reply) {
            return reply.command == "FEAT" && AnnouncesUtf8(reply.text);
        });
        if (!announced)
            return;
        char opts[] = "*OPTS UTF8 ON";
        curl_slist switchOn{opts, nullptr};
        utf8Names = Perform(Url(currentDir, {}), Call::PrintDir, &switchOn) == CURLE_OK;
    }

    std::string Escape(const std::string& text) const {
        if (text.empty())
            return {};
        char* escaped = api->easy_escape(curl, text.data(), static_cast<int>(text.size()));
        std::string out = escaped ? escaped : "";
        api->free(escaped);
        return out;
    }

    bool Setup(std::string& error);
    bool ApplyTrust();
    CURLcode ReadyToPerform();
    CURLcode Perform(const std::string& url, Call call, curl_slist* quote = nullptr, bool ascii = false,
                     curl_off_t size = 0);
    std::uint32_t ErrorNumber(CURLcode code, Call call) const;
    void KeepLastResponse(CURLcode code, Call call);
    bool ConnectSftp();
    static bool KeepSftpResult(const SftpSession& session, bool done);

    static curl_socket_t OpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int CloseSocket(void* self, curl_socket_t fd);
    static int ResolverStart(void* resolverState, void* reserved, void* self);
    static size_t Header(char* data, size_t size, size_t count, void* self);
    static int Debug(CURL* handle, curl_infotype type, char* data, size_t size, void* self);
    static int Progress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                        curl_off_t ulNow);
    static size_t Read(char* buffer, size_t size, size_t count, void* self);
};

curl_socket_t FtpConnection::Impl::OpenSocket(void* p, curlsocktype, curl_sockaddr* address) {
    auto* self = static_cast<Impl*>(p);
    const curl_socket_t fd = ::socket(address->family, address->socktype, address->protocol);
    // Only the control connection is announced; data connections belong to the transfer.
    if (fd != CURL_SOCKET_BAD && self->controlFd == CURL_SOCKET_BAD) {
        self->pendingFd = fd;
        self->pendingAddress = AddressText(address);
        self->NotifyText(kStatusNameResolved, self->pendingAddress);
        self->NotifyText(kStatusConnectingToServer, self->pendingAddress);
    }
    return fd;
}

int FtpConnection::Impl::CloseSocket(void* p, curl_socket_t fd) {
    auto* self = static_cast<Impl*>(p);
    const bool control = fd == self->controlFd;
    if (control)
        self->Notify(kStatusClosingConnection, nullptr, 0);
    const int rc = ::close(fd);
    if (fd == self->pendingFd)
        self->pendingFd = CURL_SOCKET_BAD;
    if (control) {
        self->controlFd = CURL_SOCKET_BAD;
        self->Notify(kStatusConnectionClosed, nullptr, 0);
    }
    return rc;
}

int FtpConnection::Impl::ResolverStart(void*, void*, void* p) {
    auto* self = static_cast<Impl*>(p);
    if (self->controlFd == CURL_SOCKET_BAD)
        self->NotifyText(kStatusResolvingName, self->host);
    return 0;
}

size_t FtpConnection::Impl::Header(char* data, size_t size, size_t count, void* p) {
    auto* self = static_cast<Impl*>(p);
    const size_t length = size * count;
    // The first line on a new control connection is the greeting: we are connected.
    if (self->controlFd == CURL_SOCKET_BAD && self->pendingFd != CURL_SOCKET_BAD) {
        self->controlFd = self->pendingFd;
        self->pendingFd = CURL_SOCKET_BAD;
        self->NotifyText(kStatusConnectedToServer, self->pendingAddress);
    }
    if (self->replies.empty())
        self->replies.push_back({});
    // A server that talks without end does not get our memory: a reply is kept up to a limit.
    std::string& text = self->replies.back().text;
    if (text.size() < kMaxReplyKept)
        text.append(data, std::min(length, kMaxReplyKept - text.size()));
    self->NotifyCount(kStatusResponseReceived, length);
    return length;
}

int FtpConnection::Impl::Debug(CURL*, curl_infotype type, char* data, size_t size, void* p) {
    auto* self = static_cast<Impl*>(p);
    if (type == CURLINFO_HEADER_OUT) {
        self->replies.push_back({CommandVerb(data, size), {}});
        self->NotifyCount(kStatusRequestSent, size);
    }
    return 0;
}

int FtpConnection::Impl::Progress(void* p, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulNow) {
    auto* self = static_cast<Impl*>(p);
    if (ulNow > self->uploaded) {
        const curl_off_t sent = ulNow - self->uploaded;
        self->uploaded = ulNow;
        self->NotifyCount(kStatusRequestSent, static_cast<std::uint64_t>(sent));
    }
    // libcurl asks about once a second also while nothing moves: the thread's network deadline
    // ends a stalled exchange (a non-zero answer aborts it).
    return NetworkDeadlinePassed() ? 1 : 0;
}

size_t FtpConnection::Impl::Read(char* buffer, size_t size, size_t count, void* p) {
    auto* self = static_cast<Impl*>(p);
    if (!self->source)
        return 0;
    const size_t n = std::fread(buffer, size, count, self->source);
    if (n == 0 && std::ferror(self->source))
        return CURL_READFUNC_ABORT;
    return n;
}

bool FtpConnection::Impl::Setup(std::string& error) {
    if (!api.Take(error))
        return false;
    curl = api->easy_init();
    if (!curl) {
        error = "curl_easy_init failed";
        return false;
    }
    api->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    // A libcurl too old to be told to speak nothing but the one protocol is not used at all.
    if (api->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, Scheme().c_str()) != CURLE_OK) {
        error = "libcurl is older than 7.85";
        return false;
    }
    api->easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    api->easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard); // no body is ever kept
    if (!ApplyTrust()) {
        error = "libcurl cannot hand over the server's certificate or key";
        return false;
    }
    api->easy_setopt(curl, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
    api->easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
    api->easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    api->easy_setopt(curl, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    api->easy_setopt(curl, CURLOPT_FTP_USE_EPSV, 0L);
    api->easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 0L);
    if (!passive)
        api->easy_setopt(curl, CURLOPT_FTPPORT, "-");
    if (!user.empty()) {
        api->easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
        api->easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    }
    if (settings->accessType == kOpenTypeProxy) {
        api->easy_setopt(curl, CURLOPT_PROXY, settings->proxy.c_str());
        api->easy_setopt(curl, CURLOPT_HTTPPROXYTUNNEL, 1L);
        const std::string bypass = BypassList(settings->proxyBypass, ',');
        api->easy_setopt(curl, CURLOPT_NOPROXY, bypass.c_str());
    } else if (settings->accessType == kOpenTypeDirect) {
        api->easy_setopt(curl, CURLOPT_PROXY, ""); // not even one from the environment
    }
    api->easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Impl::OpenSocket);
    api->easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
    api->easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &Impl::CloseSocket);
    api->easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
    api->easy_setopt(curl, CURLOPT_RESOLVER_START_FUNCTION, &Impl::ResolverStart);
    api->easy_setopt(curl, CURLOPT_RESOLVER_START_DATA, this);
    api->easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Impl::Header);
    api->easy_setopt(curl, CURLOPT_HEADERDATA, this);
    api->easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Impl::Debug);
    api->easy_setopt(curl, CURLOPT_DEBUGDATA, this);
    api->easy_setopt(curl, CURLOPT_VERBOSE, 1L); // the debug function sees the commands sent
    api->easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Impl::Progress);
    api->easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    api->easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    api->easy_setopt(curl, CURLOPT_READFUNCTION, &Impl::Read);
    api->easy_setopt(curl, CURLOPT_READDATA, this);
    return true;
}

// Verification is never switched off: the trust module decides on the server's certificate or
// host key during the handshake (see CurlSession.h). A stored pin replaces the check of the
// chain (small hosts have self-signed certificates).
bool FtpConnection::Impl::ApplyTrust() {
    if (Tls()) {
        if (security == ConnectionMode::ExplicitTls) {
            api->easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
            api->easy_setopt(curl, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        }
        peerCheck.Expect(host, ParseTrust(trust.PublicKeyPin));
        return peerCheck.ApplyToTls(*api, curl);
    }
    return true;
}

// The server's name is looked up once (libcurl keeps the address for the connections to come),
// within the connect limit and the thread's deadline; a proxy's name is left to libcurl. Then
// the transfer's time limits, unless the deadline has passed already.
CURLcode FtpConnection::Impl::ReadyToPerform() {
    if (!address.Known() && settings->accessType != kOpenTypeProxy) {
        if (controlFd == CURL_SOCKET_BAD)
            NotifyText(kStatusResolvingName, host);
        const ScopedNetworkDeadline connecting(Deadline::In(
            SystemClock::Instance(), std::min<long>(settings->connectTimeoutMs, kConnectPhaseLimitMs)));
        if (!address.LookUp(host, port)) {
            std::snprintf(errorText, sizeof errorText, "Could not resolve host: %s", host.c_str());
            return CURLE_COULDNT_RESOLVE_HOST;
        }
        api->easy_setopt(curl, CURLOPT_RESOLVE, address.List());
    }
    return SetTimeLimits(*api, curl, static_cast<long>(settings->connectTimeoutMs))
               ? CURLE_OK
               : CURLE_OPERATION_TIMEDOUT;
}

CURLcode FtpConnection::Impl::Perform(const std::string& url, Call call, curl_slist* quote, bool ascii,
                                      curl_off_t size) {
    // A server that moves no byte (no reply, no data, no connection back) for this long is
    // given up, so a stalled server cannot hold the caller forever.
    const long stallSeconds = std::max<long>(1, static_cast<long>((settings->stallTimeoutMs + 999) / 1000));
    api->easy_setopt(curl, CURLOPT_URL, url.c_str());
    api->easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api->easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    api->easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, stallSeconds);
    api->easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, stallSeconds * 1000);
    api->easy_setopt(curl, CURLOPT_QUOTE, quote);
    api->easy_setopt(curl, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
    if (call == Call::Put) {
        api->easy_setopt(curl, CURLOPT_NOBODY, 0L);
        api->easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        api->easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, size);
    } else {
        api->easy_setopt(curl, CURLOPT_UPLOAD, 0L);
        api->easy_setopt(curl, CURLOPT_NOBODY, 1L);
    }
    replies.clear();
    uploaded = 0;
    errorText[0] = '\0';
    peerCheck.Forget();

    CURLcode code = ReadyToPerform();
    const std::uint32_t attempts =
        code == CURLE_OK ? std::max<std::uint32_t>(1, settings->connectRetries) : 0;
    for (std::uint32_t attempt = 0; attempt < attempts; ++attempt) {
        code = api->easy_perform(curl);
        if (code != CURLE_COULDNT_CONNECT)
            break;
    }
    api->easy_setopt(curl, CURLOPT_QUOTE, nullptr);
    api->easy_setopt(curl, CURLOPT_POSTQUOTE, nullptr);
    KeepLastResponse(code, call);
    tLastReason = code == CURLE_OK ? std::string() : std::string(errorText);
    tLastUntrusted = IsTrustFailure(code) ? peerCheck.RefusedKey() : std::string();
    tLastRefusal = IsTrustFailure(code) ? peerCheck.Refusal() : TrustDecision{};
    tLastPinUnneeded = peerCheck.PinUnneeded();
    tLastError = code == CURLE_OK ? 0 : ErrorNumber(code, call);
    return code;
}

void FtpConnection::Impl::KeepLastResponse(CURLcode code, Call call) {
    const Reply* kept = nullptr;
    for (const auto& reply : replies) {
        if (reply.text.empty())
            continue;
        // After a login the welcome is the answer to the login, not to the PWD that follows.
        if (call == Call::Login && code == CURLE_OK && kept &&
            (kept->command == "USER" || kept->command == "PASS") && reply.command != "USER" &&
            reply.command != "PASS")
            break;
        kept = &reply;
    }
    if (!kept)
        return;
    tLastResponse = kept->text;
    tLastResponseError = static_cast<std::uint32_t>(std::atoi(kept->text.c_str()));
}

bool FtpConnection::Impl::ConnectSftp() {
    // libssh knows no HTTP proxy, and going round the proxy is not what was asked for.
    if (settings->accessType == kOpenTypeProxy) {
        tLastError = kErrorNotSupported;
        tLastReason = "SFTP through a proxy is not supported";
        tLastResponse.clear();
        return false;
    }
    SftpLogin login;
    login.Host = host;
    login.Port = port;
    login.User = user;
    login.Password = password;
    login.Trust = trust.HostKeySha256.empty() ? TrustSetting{} : ParseTrust("SHA256:" + trust.HostKeySha256);
    login.ConnectTimeoutMs = settings->connectTimeoutMs;
    login.ConnectRetries = settings->connectRetries;
    login.StallTimeoutMs = settings->stallTimeoutMs;
    auto session = std::make_unique<SftpSession>(
        std::move(login), [this](std::uint32_t status, const void* info, std::uint32_t length) {
            Notify(status, info, length);
        });
    if (!KeepSftpResult(*session, session->Connect())) {
        callback = nullptr; // the handle never existed for the caller
        return false;
    }
    sftp = std::move(session);
    // Paths are spelled out from the login directory on, as the server tells it.
    currentDir = sftp->HomeDirectory();
    return true;
}

// SSH has no replies to keep: the reason for a failure stands in their place, and where
// libssh could not be used at all, as the reply (as for libcurl).
bool FtpConnection::Impl::KeepSftpResult(const SftpSession& session, bool done) {
    const SftpFailure& failure = session.Failure();
    const bool internal = !done && failure.Error == kErrorInternetInternalError;
    tLastError = done ? 0 : failure.Error;
    tLastReason = done ? std::string() : failure.Reason;
    tLastUntrusted = done ? std::string() : failure.UntrustedKey;
    tLastRefusal = done ? TrustDecision{} : failure.Refusal;
    tLastResponse = internal ? failure.Reason + "\r\n" : std::string();
    tLastResponseError = internal ? kErrorInternetInternalError : 0;
    return done;
}

std::uint32_t FtpConnection::Impl::ErrorNumber(CURLcode code, Call call) const {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kErrorInternetNameNotResolved;
    case CURLE_URL_MALFORMAT: // also a path with control characters, which is never sent
        return call == Call::Login ? kErrorInternetNameNotResolved : kErrorInvalidParameter;
    case CURLE_COULDNT_CONNECT:
        return kErrorInternetCannotConnect;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return kErrorInternetSecurityFailure;
    case CURLE_USE_SSL_FAILED: // the server would not turn to TLS: no login in clear text
        return kErrorInternetLoginFailure;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_ABORTED_BY_CALLBACK: // only the network deadline aborts
        return kErrorInternetTimeout;
    case CURLE_LOGIN_DENIED: {
        const bool atUser = !replies.empty() && replies.back().command == "USER";
        return atUser ? kErrorInternetIncorrectUserName : kErrorInternetIncorrectPassword;
    }
    case CURLE_WEIRD_SERVER_REPLY:
        return call == Call::Login ? kErrorInternetLoginFailure : kErrorInternetExtendedError;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_UPLOAD_FAILED:
    case CURLE_QUOTE_ERROR:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_PORT_FAILED:
        return kErrorInternetExtendedError;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_CANT_GET_HOST:
        return kErrorInternetConnectionAborted;
    default:
        return kErrorInternetInternalError;
    }
}

// ---------------------------------------------------------------------------------------------

InternetSession::InternetSession(std::string agent, std::uint32_t accessType, std::string proxy,
                                 std::string proxyBypass, std::uint32_t)
    : settings_(std::make_shared<SessionSettings>()) {
    settings_->agent = std::move(agent);
    settings_->accessType = accessType;
    settings_->proxy = std::move(proxy);
    settings_->proxyBypass = std::move(proxyBypass);
}

InternetSession::~InternetSession() = default;

StatusCallback InternetSession::SetStatusCallback(StatusCallback callback) {
    return std::exchange(settings_->callback, callback);
}

void InternetSession::SetSecurity(ConnectionMode security, PeerTrust trust) {
    settings_->security = security;
    settings_->trust = std::move(trust);
}

bool InternetSession::SetOption(std::uint32_t option, std::uint32_t value) {
    switch (option) {
    case kOptionConnectTimeout:
        settings_->connectTimeoutMs = value;
        return true;
    case kOptionConnectRetries:
        settings_->connectRetries = value;
        return true;
    case kOptionDataSendTimeout:
        settings_->stallTimeoutMs = value;
        return true;
    default:
        tLastError = kErrorInvalidParameter;
        return false;
    }
}

bool InternetSession::QueryOption(std::uint32_t option, std::uint32_t& value) const {
    switch (option) {
    case kOptionConnectTimeout:
        value = settings_->connectTimeoutMs;
        return true;
    case kOptionConnectRetries:
        value = settings_->connectRetries;
        return true;
    case kOptionDataSendTimeout:
        value = settings_->stallTimeoutMs;
        return true;
    default:
        tLastError = kErrorInvalidParameter;
        return false;
    }
}

std::unique_ptr<FtpConnection> InternetSession::ConnectFtp(const std::string& host, std::uint16_t port,
                                                           const std::string& user,
                                                           const std::string& password, std::uint32_t flags,
                                                           std::uintptr_t context) {
    if (!HostIsPlain(host)) {
        tLastError = host.empty() ? kErrorInvalidParameter : kErrorInternetNameNotResolved;
        return nullptr;
    }
    auto impl = std::make_unique<FtpConnection::Impl>();
    impl->settings = settings_;
    impl->host = host;
    impl->security = settings_->security;
    impl->trust = settings_->trust;
    impl->port = port == 0 ? StandardPort(impl->security) : port;
    impl->user = user;
    impl->password = password;
    impl->passive = (flags & kFlagPassive) != 0;
    impl->callback = settings_->callback;
    impl->context = context;
    impl->activeContext = context;
    if (impl->Sftp()) {
        if (!impl->ConnectSftp())
            return nullptr;
        return std::unique_ptr<FtpConnection>(new FtpConnection(std::move(impl)));
    }
    std::string why;
    if (!impl->Setup(why)) {
        // No FTP without libcurl: a general error, the reason where the server's reply would be.
        tLastError = kErrorInternetInternalError;
        tLastResponseError = kErrorInternetInternalError;
        tLastResponse = why + "\r\n";
        return nullptr;
    }
    if (impl->Perform(impl->BaseUrl(), FtpConnection::Impl::Call::Login) != CURLE_OK) {
        const std::uint32_t error = tLastError;
        impl->callback = nullptr; // the handle never existed for the caller
        impl.reset();
        tLastError = error;
        return nullptr;
    }
    char* entry = nullptr;
    if (impl->api->easy_getinfo(impl->curl, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry &&
        entry[0] == '/')
        impl->currentDir = entry;
    return std::unique_ptr<FtpConnection>(new FtpConnection(std::move(impl)));
}

// ---------------------------------------------------------------------------------------------

FtpConnection::FtpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FtpConnection::~FtpConnection() = default;

StatusCallback FtpConnection::SetStatusCallback(StatusCallback callback) {
    return std::exchange(impl_->callback, callback);
}

bool FtpConnection::ChangeDirectory(const std::string& directory) {
    if (directory.empty()) {
        tLastError = kErrorInvalidParameter;
        return false;
    }
    const std::string target =
        directory.front() == '/' ? directory : JoinDirectory(impl_->currentDir, directory);
    impl_->activeContext = impl_->context;
    // SFTP knows no change of directory: the directory is looked at to see that it is there.
    if (impl_->sftp) {
        if (!impl_->KeepSftpResult(*impl_->sftp, impl_->sftp->IsDirectory(target)))
            return false;
        impl_->currentDir = target;
        return true;
    }
    impl_->AgreeOnNames(target);
    if (impl_->Perform(impl_->Url(target, {}), Impl::Call::ChangeDir) != CURLE_OK)
        return false;
    impl_->currentDir = target;
    return true;
}

bool FtpConnection::QueryCurrentDirectory(std::string& directory) {
    if (impl_->sftp) {
        directory = impl_->currentDir;
        tLastError = directory.empty() ? kErrorInternetExtendedError : 0;
        return !directory.empty();
    }
    // libcurl only reads the command list, so one node on the stack does.
    char pwd[] = "PWD";
    curl_slist quote{pwd, nullptr};
    impl_->activeContext = impl_->context;
    if (impl_->Perform(impl_->Url(impl_->currentDir, {}), Impl::Call::PrintDir, &quote) != CURLE_OK)
        return false;
    for (const auto& reply : impl_->replies) {
        if (reply.command == "PWD" && ParsePwdReply(reply.text, directory)) {
            if (impl_->utf8Names)
                directory = SystemTextOfName(directory);
            return true;
        }
    }
    tLastError = kErrorInternetExtendedError;
    return false;
}

bool FtpConnection::PutFile(const std::string& localPath, const std::string& remoteName,
                            std::uint32_t transferFlags, std::uintptr_t context) {
    if (remoteName.empty()) {
        tLastError = kErrorInvalidParameter;
        return false;
    }
    FilePtr file(std::fopen(FileSystemName(localPath).c_str(), "rb"));
    if (!file) {
        tLastError = errno == ENOENT ? kErrorFileNotFound : kErrorInternetInternalError;
        return false;
    }
    if (impl_->sftp) {
        impl_->activeContext = context;
        const bool stored = impl_->sftp->Put(file.get(), JoinDirectory(impl_->currentDir, remoteName));
        impl_->activeContext = impl_->context;
        return impl_->KeepSftpResult(*impl_->sftp, stored);
    }
    curl_off_t size = 0;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        size = std::ftell(file.get());
        std::rewind(file.get());
    }
    impl_->AgreeOnNames(impl_->currentDir + remoteName);
    impl_->source = file.get();
    impl_->activeContext = context;
    const bool ascii = (transferFlags & 3u) == kTransferTypeAscii;
    const CURLcode code =
        impl_->Perform(impl_->Url(impl_->currentDir, remoteName), Impl::Call::Put, nullptr, ascii, size);
    impl_->source = nullptr;
    impl_->activeContext = impl_->context;
    return code == CURLE_OK;
}

} // namespace pelorix::wininet

namespace pelorix::wininet {

namespace {

// A list of commands for libcurl; freed with the object.
class CommandList {
public:
    CommandList() = default;
    CommandList(const CommandList&) = delete;
    CommandList& operator=(const CommandList&) = delete;

    void Add(std::string command) {
        texts_.push_back(std::move(command));
        nodes_.clear();
        nodes_.resize(texts_.size());
        for (std::size_t i = 0; i < texts_.size(); ++i) {
            nodes_[i].data = texts_[i].data();
            nodes_[i].next = i + 1 < texts_.size() ? &nodes_[i + 1] : nullptr;
        }
    }
    curl_slist* Head() { return nodes_.empty() ? nullptr : nodes_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<curl_slist> nodes_;
};

} // namespace

bool FtpConnection::RenameFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) {
        tLastError = kErrorInvalidParameter;
        return false;
    }
    impl_->activeContext = impl_->context;
    if (impl_->sftp)
        return impl_->KeepSftpResult(*impl_->sftp, impl_->sftp->Rename(JoinDirectory(impl_->currentDir, from),
                                                                       JoinDirectory(impl_->currentDir, to)));
    const std::string url = impl_->Url(impl_->currentDir, {});
    // After the change to the directory, so that both names are taken from there.
    impl_->AgreeOnNames(impl_->currentDir + from + to);
    CommandList rename;
    rename.Add("RNFR " + impl_->OnTheWire(from));
    rename.Add("RNTO " + impl_->OnTheWire(to));
    impl_->api->easy_setopt(impl_->curl, CURLOPT_POSTQUOTE, rename.Head());
    return impl_->Perform(url, Impl::Call::ChangeDir) == CURLE_OK;
}

bool FtpConnection::RemoveFile(const std::string& name) {
    if (name.empty()) {
        tLastError = kErrorInvalidParameter;
        return false;
    }
    impl_->activeContext = impl_->context;
    if (impl_->sftp)
        return impl_->KeepSftpResult(*impl_->sftp,
                                     impl_->sftp->Remove(JoinDirectory(impl_->currentDir, name)));
    const std::string url = impl_->Url(impl_->currentDir, {});
    CommandList remove;
    impl_->AgreeOnNames(impl_->currentDir + name);
    remove.Add("DELE " + impl_->OnTheWire(name));
    impl_->api->easy_setopt(impl_->curl, CURLOPT_POSTQUOTE, remove.Head());
    return impl_->Perform(url, Impl::Call::ChangeDir) == CURLE_OK;
}

// ---------------------------------------------------------------------------------------------

} // namespace pelorix::wininet
