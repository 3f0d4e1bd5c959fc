#include "net/InternetSession.h"

#include "net/FtpReply.h"

#include "platform/Clock.h"
#include "platform/FileSystemName.h"
#include "platform/NetworkDeadline.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <sstream>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace pelorix::wininet {

namespace {

using Milliseconds = std::chrono::milliseconds;

// WinInet keeps the last error and the last server reply per thread; so do we, because every
// call runs on a thread of its own (see RunWatched) and its outcome is handed back here.
thread_local std::uint32_t tLastError = 0;
thread_local std::uint32_t tLastResponseError = 0;
thread_local std::string tLastResponse;
thread_local std::string tLastReason;

// What a transfer hands to InternetWriteFile at a time: each piece is a sign that the server
// still takes data, and a notification of the bytes sent.
constexpr std::size_t kWritePiece = 16384;

// libcurl counts a stall in whole seconds, at least one; the Linux half gives the same limit.
constexpr std::uint32_t kLeastStallMs = 1000;

// A path longer than this from PWD is not taken.
constexpr DWORD kMaxDirectoryLength = 65536;

// One owned WinInet handle; closing a connection may wait for the server's goodbye.
class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() { Close(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(HINTERNET handle) {
        Close();
        handle_ = handle;
    }
    void Close() {
        if (handle_)
            ::InternetCloseHandle(std::exchange(handle_, nullptr));
    }

private:
    HINTERNET handle_ = nullptr;
};

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// The host text of notifications 10, 11, 20 and 21. WinInet passes a string, its NUL counted
// in the length; the documentation speaks of a socket address for 20 and 21, so an IPv4
// sockaddr_in (family 2 in its first two bytes, which no host text starts with) is written out.
std::string StatusText(const void* info, DWORD length) {
    if (!info || length == 0)
        return {};
    const auto* bytes = static_cast<const unsigned char*>(info);
    if (length >= 8 && bytes[0] == 2 && bytes[1] == 0) {
        return std::to_string(bytes[4]) + "." + std::to_string(bytes[5]) + "." + std::to_string(bytes[6]) +
               "." + std::to_string(bytes[7]);
    }
    const auto* text = static_cast<const char*>(info);
    return std::string(text, ::strnlen(text, length));
}

// InternetGetLastResponseInfoA of the calling thread, ending in CR LF like every server line.
std::string ResponseOfThisThread() {
    DWORD code = 0;
    std::string text(1024, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    if (!::InternetGetLastResponseInfoA(&code, text.data(), &size)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return {};
        text.assign(size + 1, '\0');
        size = static_cast<DWORD>(text.size());
        if (!::InternetGetLastResponseInfoA(&code, text.data(), &size))
            return {};
    }
    text.resize(std::min<std::size_t>(size, text.size()));
    text.resize(::strnlen(text.c_str(), text.size()));
    if (!text.empty() && text.back() != '\n')
        text += "\r\n";
    return text;
}

bool IsRefusal(const std::string& reply) {
    return !reply.empty() && (reply[0] == '4' || reply[0] == '5');
}

// Why a call failed where the server gave no refusing reply.
std::string ReasonOf(std::uint32_t error) {
    switch (error) {
    case kErrorNotSupported:
        return "secure connections are not available in this build";
    case kErrorFileNotFound:
        return "the local file was not found";
    case kErrorInvalidParameter:
        return "invalid name or parameter";
    case kErrorInternetTimeout:
        return "the server did not answer in time";
    case kErrorInternetNameNotResolved:
        return "the server name could not be resolved";
    case kErrorInternetCannotConnect:
        return "no connection to the server could be made";
    case kErrorInternetConnectionAborted:
        return "the connection to the server was ended";
    default:
        return "WinInet error " + std::to_string(error);
    }
}

void Fail(std::uint32_t error) {
    tLastError = error;
    tLastReason = ReasonOf(error);
}

// The error of a failed WinInet call; never 0, so that the failure stays one.
std::uint32_t ErrorOfThisThread() {
    const DWORD error = ::GetLastError();
    return error == 0 ? kErrorInternetInternalError : static_cast<std::uint32_t>(error);
}

// One notification on its way to the caller's thread.
struct Notice {
    std::uint32_t status = 0;
    std::string text;        // 10, 11, 20, 21
    std::uint32_t count = 0; // 31, 41
};

// A call running on a thread of its own as the caller waiting for it sees it: the
// notifications on their way, when it last showed a sign of life, and how it ended.
struct Watch {
    explicit Watch(bool connectedAlready) : connected(connectedAlready) {}

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Notice> notices;
    long long lastSignMs = SystemClock::Instance().MonotonicMs();
    bool connected;          // the control connection stands (50 and 51 only then)
    bool connecting = false; // between 20 and 21, where the connect limit applies
    int replies = 0;         // server replies received during the call
    bool done = false;
    bool abandoned = false;
    std::uint32_t error = 0;
    std::string response;

    // On the call's thread, from the WinInet callback or the transfer.
    void Note(std::uint32_t status, const void* info, DWORD length) {
        std::lock_guard lock(mutex);
        if (abandoned)
            return;
        lastSignMs = SystemClock::Instance().MonotonicMs();
        Notice notice{status, {}, 0};
        switch (status) {
        case kStatusResolvingName:
        case kStatusNameResolved:
            notice.text = StatusText(info, length);
            break;
        case kStatusConnectingToServer:
            connecting = true;
            notice.text = StatusText(info, length);
            break;
        case kStatusConnectedToServer:
            connecting = false;
            connected = true;
            notice.text = StatusText(info, length);
            break;
        case kStatusRequestSent:
        case kStatusResponseReceived:
            if (info && length >= sizeof(DWORD)) {
                DWORD count = 0;
                std::memcpy(&count, info, sizeof count);
                notice.count = count;
            }
            if (status == kStatusResponseReceived)
                ++replies;
            break;
        case kStatusClosingConnection:
        case kStatusConnectionClosed:
            // A connection that never stood (a name not found, a refused connect) is not
            // announced as closing either.
            if (!connected)
                return;
            break;
        default:
            return; // a sign of life all the same
        }
        notices.push_back(std::move(notice));
        changed.notify_one();
    }

    void NoteSent(std::uint32_t count) {
        const DWORD value = count;
        Note(kStatusRequestSent, &value, sizeof value);
    }

    int Replies() {
        std::lock_guard lock(mutex);
        return replies;
    }

    void Finish(std::uint32_t callError, std::string callResponse) {
        std::lock_guard lock(mutex);
        error = callError;
        response = std::move(callResponse);
        done = true;
        changed.notify_one();
    }
};

} // namespace

struct SessionSettings {
    InternetHandle handle; // InternetOpenA; kept open while a connection of it lives
    std::uint32_t openError = 0;
    StatusCallback callback = nullptr;
    std::uint32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
    std::uint32_t connectRetries = kDefaultConnectRetries;
    std::uint32_t stallTimeoutMs = kDefaultStallTimeoutMs;
    ConnectionMode security = ConnectionMode::Plain;

    Milliseconds ConnectLimit() const {
        return Milliseconds(connectTimeoutMs == 0 ? kDefaultConnectTimeoutMs : connectTimeoutMs);
    }
    Milliseconds StallLimit() const { return Milliseconds(std::max(stallTimeoutMs, kLeastStallMs)); }
};

namespace {

// What a connection handle is given as its context value: the notifications of the handle go
// to the call running on it. Shared by the connection and the thread of a call, so that a call
// given up still finds it; the last one to let go closes the handle.
struct Line {
    explicit Line(std::shared_ptr<SessionSettings> of) : session(std::move(of)) {}

    std::shared_ptr<SessionSettings> session; // the session handle outlives this one
    std::mutex mutex;
    std::shared_ptr<Watch> watch;
    // Names are Latin-1 text; a server that announces UTF8 takes them in UTF-8. Asked only
    // when a name goes beyond ASCII, where the two differ. Touched by the call's thread only.
    bool utf8Asked = false;
    bool utf8Names = false;
    InternetHandle handle; // last, so that it is closed while the members above still stand

    std::string OnTheWire(const std::string& name) const { return utf8Names ? Utf8Name(name) : name; }

    // FtpCommandA without a data connection; the reply is this thread's last response.
    bool Command(const char* command) {
        HINTERNET reply = nullptr;
        const BOOL ok = ::FtpCommandA(handle.Get(), FALSE, FTP_TRANSFER_TYPE_ASCII, command,
                                      reinterpret_cast<DWORD_PTR>(this), &reply);
        InternetHandle owned(reply);
        return ok != FALSE;
    }

    // Before the first name beyond ASCII: FEAT, and OPTS UTF8 ON where the server announced
    // UTF8. (Wine keeps only the last line of a reply, so there the names stay Latin-1.)
    void AgreeOnNames(std::string_view names) {
        if (utf8Asked || IsAscii(names))
            return;
        utf8Asked = true;
        if (Command("FEAT") && AnnouncesUtf8(ResponseOfThisThread()))
            utf8Names = Command("OPTS UTF8 ON");
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* line = reinterpret_cast<Line*>(context);
    if (!line)
        return;
    std::shared_ptr<Watch> watch;
    {
        std::lock_guard lock(line->mutex);
        watch = line->watch;
    }
    if (watch)
        watch->Note(status, info, length);
}

// A call's work: runs on the call's thread; returns 0 or the error number.
using CallBody = std::function<std::uint32_t(Line& line, Watch& watch)>;

struct CallOutcome {
    bool finished = false; // false: given up
    std::uint32_t error = 0;
    std::string response;
};

// Hands the notifications of the call to deliver as they come, until the call is done (true)
// or has shown no sign of life for its time limit: the connect limit while connecting,
// otherwise the stall limit, both cut to the thread's network deadline. A call given up is
// marked so, and nothing it does later reaches anyone.
bool WaitFor(Watch& watch, const SessionSettings& settings,
             const std::function<void(const Notice&)>& deliver) {
    std::unique_lock lock(watch.mutex);
    for (;;) {
        while (!watch.notices.empty()) {
            const Notice notice = std::move(watch.notices.front());
            watch.notices.pop_front();
            lock.unlock();
            try {
                deliver(notice);
            } catch (...) {
                lock.lock();
                watch.abandoned = true;
                throw;
            }
            lock.lock();
        }
        if (watch.done)
            return true;
        const Milliseconds limit = watch.connecting ? settings.ConnectLimit() : settings.StallLimit();
        // A call that shows no sign of life for the limit is given up, at the thread's deadline
        // at the latest.
        const Deadline stalled(SystemClock::Instance(), watch.lastSignMs + limit.count());
        const int wait = stalled.Sooner(NetworkDeadline()).Cap(-1);
        if (wait <= 0) {
            watch.abandoned = true;
            return false;
        }
        watch.changed.wait_for(lock, Milliseconds(wait));
    }
}

// Runs body on a thread of its own and waits for it on this one (see WaitFor). WinInet bounds
// not every wait of its own (Wine ignores the time-out options and blocks in a data transfer
// the server stopped taking for ever), nor can a blocked call be stopped from outside (closing
// the handle does not end it), so a call given up is left to its thread, which ends when
// WinInet lets it go.
CallOutcome RunWatched(const std::shared_ptr<Line>& line, bool connected, CallBody body,
                       const std::function<void(const Notice&)>& deliver) {
    auto watch = std::make_shared<Watch>(connected);
    {
        std::lock_guard lock(line->mutex);
        line->watch = watch;
    }
    std::thread worker;
    try {
        worker = std::thread([line, watch, work = std::move(body)] {
            std::uint32_t error = kErrorInternetInternalError;
            try {
                error = work(*line, *watch);
            } catch (...) {
                // out of memory: the call failed
            }
            std::string response = ResponseOfThisThread();
            {
                std::lock_guard lock(line->mutex);
                if (line->watch == watch)
                    line->watch.reset();
            }
            watch->Finish(error, std::move(response));
        });
    } catch (const std::system_error&) {
        std::lock_guard lock(line->mutex);
        line->watch.reset();
        return {true, kErrorInternetInternalError, {}};
    }
    CallOutcome outcome;
    try {
        outcome.finished = WaitFor(*watch, *line->session, deliver);
    } catch (...) {
        worker.detach(); // a callback threw: its exception goes on, the call is left alone
        throw;
    }
    if (!outcome.finished) {
        worker.detach();
        return outcome;
    }
    worker.join();
    outcome.error = watch->error;
    outcome.response = watch->response;
    return outcome;
}

// A notification as the registered callback takes it: a count by its address, a text as it stands.
void Deliver(StatusCallback callback, std::uintptr_t context, const Notice& notice) {
    if (!callback)
        return;
    if (notice.status == kStatusRequestSent || notice.status == kStatusResponseReceived)
        callback(context, notice.status, &notice.count, sizeof notice.count);
    else
        callback(context, notice.status, notice.text.empty() ? nullptr : notice.text.c_str(),
                 static_cast<std::uint32_t>(notice.text.size()));
}

// The outcome of a finished call as this thread's error, reply and reason.
void Settle(const CallOutcome& outcome) {
    if (!outcome.response.empty()) {
        tLastResponse = outcome.response;
        tLastResponseError = static_cast<std::uint32_t>(std::atoi(outcome.response.c_str()));
    }
    tLastError = outcome.error;
    if (outcome.error != 0)
        tLastReason = IsRefusal(outcome.response) ? outcome.response : ReasonOf(outcome.error);
}

} // namespace

std::uint32_t LastError() {
    return tLastError;
}

void SetCurlLibraryFile(std::string) {}

bool CurlLibraryLoaded() {
    return false;
}

std::string LastUntrustedKey() {
    return {};
}

TrustDecision LastRefusal() {
    return {};
}

bool LastPinUnneeded() {
    return false;
}

std::string LastFailureReason() {
    return tLastReason;
}

bool GetLastResponseInfo(std::uint32_t& error, std::string& text) {
    error = tLastResponseError;
    text = tLastResponse;
    return !tLastResponse.empty();
}

// No TLS library is part of this build: nothing is fetched, nothing sent.
bool FetchHttps(const std::string&, std::uint32_t, std::size_t, std::string& response, std::uint32_t& error,
                std::string& reason) {
    response.clear();
    error = kErrorNotSupported;
    reason = "HTTPS is not available in this build";
    return false;
}

// ---------------------------------------------------------------------------------------------

struct FtpConnection::Impl {
    std::shared_ptr<Line> line;
    StatusCallback callback = nullptr;
    std::uintptr_t context = 0;
    // Once a call was given up its thread still holds the handle: every later call fails at
    // once, as that one did.
    std::uint32_t lostError = 0;
    std::string lostReason;

    ~Impl() {
        // Logging out waits for the server's goodbye, within the same limits as every call.
        if (line && lostError == 0)
            Run([](Line& l, Watch&) -> std::uint32_t {
                l.handle.Close();
                return 0;
            });
    }

    bool Run(CallBody body, std::uintptr_t callContext) {
        if (lostError != 0) {
            tLastError = lostError;
            tLastReason = lostReason;
            return false;
        }
        const CallOutcome outcome = RunWatched(line, true, std::move(body), [&](const Notice& notice) {
            Deliver(callback, callContext, notice);
        });
        if (!outcome.finished) {
            Fail(kErrorInternetTimeout);
            lostError = tLastError;
            lostReason = tLastReason;
            return false;
        }
        Settle(outcome);
        return outcome.error == 0;
    }
    bool Run(CallBody body) { return Run(std::move(body), context); }
};

// ---------------------------------------------------------------------------------------------

InternetSession::InternetSession(std::string agent, std::uint32_t accessType, std::string proxy,
                                 std::string proxyBypass, std::uint32_t flags)
    : settings_(std::make_shared<SessionSettings>()) {
    const std::string bypass = BypassList(proxyBypass, ';');
    // Every call is synchronous: the asynchronous mode is never asked for.
    settings_->handle.Reset(::InternetOpenA(
        agent.c_str(), accessType, proxy.empty() ? nullptr : proxy.c_str(),
        bypass.empty() ? nullptr : bypass.c_str(), flags & ~static_cast<std::uint32_t>(INTERNET_FLAG_ASYNC)));
    if (!settings_->handle) {
        settings_->openError = ErrorOfThisThread();
        return;
    }
    ::InternetSetStatusCallbackA(settings_->handle.Get(), &OnStatus);
    SetOption(kOptionConnectTimeout, settings_->connectTimeoutMs);
    SetOption(kOptionConnectRetries, settings_->connectRetries);
    SetOption(kOptionDataSendTimeout, settings_->stallTimeoutMs);
}

InternetSession::~InternetSession() = default;

StatusCallback InternetSession::SetStatusCallback(StatusCallback callback) {
    return std::exchange(settings_->callback, callback);
}

void InternetSession::SetSecurity(ConnectionMode security, PeerTrust) {
    settings_->security = security;
}

bool InternetSession::SetOption(std::uint32_t option, std::uint32_t value) {
    auto apply = [&](DWORD winInetOption) {
        DWORD v = value;
        if (settings_->handle)
            ::InternetSetOptionA(settings_->handle.Get(), winInetOption, &v, sizeof v);
    };
    switch (option) {
    case kOptionConnectTimeout:
        settings_->connectTimeoutMs = value;
        apply(INTERNET_OPTION_CONNECT_TIMEOUT);
        return true;
    case kOptionConnectRetries:
        settings_->connectRetries = value;
        apply(INTERNET_OPTION_CONNECT_RETRIES);
        return true;
    case kOptionDataSendTimeout:
        // One limit for a server that moves nothing, on the control connection as on the data.
        settings_->stallTimeoutMs = value;
        apply(INTERNET_OPTION_DATA_SEND_TIMEOUT);
        apply(INTERNET_OPTION_DATA_RECEIVE_TIMEOUT);
        apply(INTERNET_OPTION_CONTROL_SEND_TIMEOUT);
        apply(INTERNET_OPTION_CONTROL_RECEIVE_TIMEOUT);
        return true;
    default:
        tLastError = kErrorInvalidParameter;
        return false;
    }
}

// From the values set rather than from WinInet, which (under Wine) answers 0 for a connect time
// limit it was given.
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
    // Never plain FTP in place of a protected connection: the password stays here.
    if (!OfferedOnThisSystem(settings_->security)) {
        Fail(kErrorNotSupported);
        return nullptr;
    }
    // WinInet takes an empty host for this computer; line breaks would end the command early.
    if (host.empty() || HasLineBreak(host) || HasLineBreak(user) || HasLineBreak(password)) {
        Fail(kErrorInvalidParameter);
        return nullptr;
    }
    if (!settings_->handle) {
        Fail(settings_->openError);
        return nullptr;
    }
    auto line = std::make_shared<Line>(settings_);
    const auto session = settings_->handle.Get();
    const auto wirePort = static_cast<INTERNET_PORT>(port == 0 ? StandardPort(ConnectionMode::Plain) : port);
    const StatusCallback callback = settings_->callback;
    const CallOutcome outcome = RunWatched(
        line, false,
        [session, host, wirePort, user, password, flags](Line& l, Watch& watch) -> std::uint32_t {
            HINTERNET handle =
                ::InternetConnectA(session, host.c_str(), wirePort, user.c_str(), password.c_str(),
                                   INTERNET_SERVICE_FTP, flags, reinterpret_cast<DWORD_PTR>(&l));
            if (handle) {
                l.handle.Reset(handle);
                return 0;
            }
            const std::uint32_t error = ErrorOfThisThread();
            // WinInet tells a refused login only as such; the reply that refused it tells
            // whether the name or the password was wrong (greeting, USER, PASS).
            if (error == kErrorInternetLoginFailure && ResponseOfThisThread().rfind("530", 0) == 0) {
                const int replies = watch.Replies();
                if (replies == 2)
                    return kErrorInternetIncorrectUserName;
                if (replies >= 3)
                    return kErrorInternetIncorrectPassword;
            }
            return error;
        },
        [&](const Notice& notice) { Deliver(callback, context, notice); });
    if (!outcome.finished) {
        Fail(kErrorInternetTimeout);
        return nullptr;
    }
    Settle(outcome);
    if (outcome.error != 0)
        return nullptr;
    auto impl = std::make_unique<FtpConnection::Impl>();
    impl->line = std::move(line);
    impl->callback = callback;
    impl->context = context;
    return std::unique_ptr<FtpConnection>(new FtpConnection(std::move(impl)));
}

// ---------------------------------------------------------------------------------------------

FtpConnection::FtpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FtpConnection::~FtpConnection() = default;

StatusCallback FtpConnection::SetStatusCallback(StatusCallback callback) {
    return std::exchange(impl_->callback, callback);
}

bool FtpConnection::ChangeDirectory(const std::string& directory) {
    if (directory.empty() || HasLineBreak(directory)) {
        Fail(kErrorInvalidParameter);
        return false;
    }
    return impl_->Run([directory](Line& line, Watch&) -> std::uint32_t {
        line.AgreeOnNames(directory);
        return ::FtpSetCurrentDirectoryA(line.handle.Get(), line.OnTheWire(directory).c_str())
                   ? 0
                   : ErrorOfThisThread();
    });
}

bool FtpConnection::QueryCurrentDirectory(std::string& directory) {
    auto answer = std::make_shared<std::string>();
    const bool ok = impl_->Run([answer](Line& line, Watch&) -> std::uint32_t {
        for (DWORD room = MAX_PATH + 1; room <= kMaxDirectoryLength; room *= 4) {
            std::string buffer(room, '\0');
            DWORD length = room;
            if (::FtpGetCurrentDirectoryA(line.handle.Get(), buffer.data(), &length)) {
                buffer.resize(::strnlen(buffer.c_str(), buffer.size()));
                *answer = line.utf8Names ? SystemTextOfName(buffer) : buffer;
                return 0;
            }
            if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
                return ErrorOfThisThread();
        }
        return kErrorInternetExtendedError;
    });
    if (ok)
        directory = *answer;
    return ok;
}

bool FtpConnection::PutFile(const std::string& localPath, const std::string& remoteName,
                            std::uint32_t transferFlags, std::uintptr_t context) {
    if (remoteName.empty() || HasLineBreak(remoteName)) {
        Fail(kErrorInvalidParameter);
        return false;
    }
    const DWORD type =
        (transferFlags & 3u) == kTransferTypeAscii ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
    const std::string path = FileSystemName(localPath);
    // The data go piece by piece rather than through FtpPutFileA, so that each piece is seen:
    // as progress for the callback, and as the sign that the server still takes data.
    return impl_->Run(
        [path, remoteName, type](Line& line, Watch& watch) -> std::uint32_t {
            FilePtr file(std::fopen(path.c_str(), "rb"));
            if (!file)
                return errno == ENOENT ? kErrorFileNotFound : kErrorInternetInternalError;
            line.AgreeOnNames(remoteName);
            InternetHandle remote(::FtpOpenFileA(line.handle.Get(), line.OnTheWire(remoteName).c_str(),
                                                 GENERIC_WRITE, type, reinterpret_cast<DWORD_PTR>(&line)));
            if (!remote)
                return ErrorOfThisThread();
            std::uint32_t error = 0;
            char piece[kWritePiece];
            for (;;) {
                const std::size_t n = std::fread(piece, 1, sizeof piece, file.get());
                if (n == 0) {
                    if (std::ferror(file.get()))
                        error = kErrorInternetInternalError;
                    break;
                }
                DWORD written = 0;
                if (!::InternetWriteFile(remote.Get(), piece, static_cast<DWORD>(n), &written)) {
                    error = ErrorOfThisThread();
                    break;
                }
                watch.NoteSent(written);
            }
            // Closing the file handle ends the data connection and takes the server's verdict.
            remote.Close();
            if (error != 0)
                return error;
            const std::string verdict = ResponseOfThisThread();
            if (verdict.rfind('2', 0) == 0)
                return 0;
            return IsRefusal(verdict) ? kErrorInternetExtendedError : kErrorInternetTimeout;
        },
        context);
}

bool FtpConnection::RenameFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty() || HasLineBreak(from) || HasLineBreak(to)) {
        Fail(kErrorInvalidParameter);
        return false;
    }
    return impl_->Run([from, to](Line& line, Watch& watch) -> std::uint32_t {
        line.AgreeOnNames(from + to);
        const std::string oldName = line.OnTheWire(from);
        const std::string newName = line.OnTheWire(to);
        const int repliesBefore = watch.Replies();
        if (::FtpRenameFileA(line.handle.Get(), oldName.c_str(), newName.c_str()))
            return 0;
        const std::uint32_t error = ErrorOfThisThread();
        // Two replies: RNFR was taken, so the file is there and RNTO was refused, as servers
        // do that will not rename onto an existing file. That one goes first then (for a
        // moment there is no page, but never half of one). A refused RNFR deletes nothing.
        if (error != kErrorInternetExtendedError || watch.Replies() - repliesBefore < 2)
            return error;
        if (!::FtpDeleteFileA(line.handle.Get(), newName.c_str()))
            return ErrorOfThisThread();
        return ::FtpRenameFileA(line.handle.Get(), oldName.c_str(), newName.c_str()) ? 0
                                                                                     : ErrorOfThisThread();
    });
}

bool FtpConnection::RemoveFile(const std::string& name) {
    if (name.empty() || HasLineBreak(name)) {
        Fail(kErrorInvalidParameter);
        return false;
    }
    return impl_->Run([name](Line& line, Watch&) -> std::uint32_t {
        line.AgreeOnNames(name);
        return ::FtpDeleteFileA(line.handle.Get(), line.OnTheWire(name).c_str()) ? 0 : ErrorOfThisThread();
    });
}

} // namespace pelorix::wininet
