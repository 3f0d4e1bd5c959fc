#include "net/WinInetControl.h"

namespace pelorix {

namespace {

// The agent the session announces.
constexpr const char* kAgent = "Pelorix";

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines)
        out += (out.empty() ? "" : "\r\n") + line;
    return out;
}

} // namespace

std::string FormatText(const std::string& pattern, std::initializer_list<std::string> args) {
    std::string out;
    auto arg = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's' && arg != args.end()) {
            out += *arg++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

TWinInetControl::TWinInetControl() = default;

TWinInetControl::~TWinInetControl() {
    BeginDestruction();
    Disconnect();
}

std::uint32_t TWinInetControl::ConnectRetries() const {
    std::uint32_t value = 0;
    if (session_)
        return session_->QueryOption(wininet::kOptionConnectRetries, value) ? value : kDefaultConnectRetries;
    return connectRetries_;
}

void TWinInetControl::SetConnectRetries(std::uint32_t retries) {
    connectRetries_ = retries;
    if (session_)
        session_->SetOption(wininet::kOptionConnectRetries, retries);
}

void TWinInetControl::SetEnableCache(bool enable) {
    enableCache_ = enable;
    if (enable)
        requestFlags_ &= ~wininet::kFlagReload;
    else
        requestFlags_ |= wininet::kFlagReload;
}

std::uint32_t TWinInetControl::ConnectTimeout() const {
    std::uint32_t value = 0;
    if (session_)
        return session_->QueryOption(wininet::kOptionConnectTimeout, value) ? value : kDefaultConnectTimeout;
    return connectTimeout_;
}

void TWinInetControl::SetConnectTimeout(std::uint32_t milliseconds) {
    connectTimeout_ = milliseconds == 0 ? kDefaultConnectTimeout : milliseconds;
    if (session_)
        session_->SetOption(wininet::kOptionConnectTimeout, connectTimeout_);
}

void TWinInetControl::SetResolveNames(TResolveNames value) {
    resolveNames_ = value;
    switch (value) {
    case rnPreConfig:
        accessType_ = wininet::kOpenTypePreconfig;
        break;
    case rnProxy:
        accessType_ = wininet::kOpenTypeProxy;
        break;
    default:
        accessType_ = wininet::kOpenTypeDirect;
        break;
    }
}

bool TWinInetControl::Connect() {
    if (state_ == kStateConnected)
        return true;
    if (!session_) {
        session_ = std::make_unique<wininet::InternetSession>(
            kAgent, accessType_, resolveNames_ == rnProxy ? ProxyName : std::string(),
            JoinLines(proxyBypassList_), 0);
    }
    session_->SetStatusCallback(&TWinInetControl::StatusCallbackFunction);
    session_->SetOption(wininet::kOptionConnectRetries, connectRetries_);
    session_->SetOption(wininet::kOptionConnectTimeout, connectTimeout_);
    return false;
}

bool TWinInetControl::Disconnect() {
    session_.reset();
    if (!destroying_ && SetState(kStateNoConnection) && OnDisconnected)
        OnDisconnected(*this);
    return true;
}

bool TWinInetControl::SetState(TWinInetState newState) {
    if (newState == state_)
        return false;
    state_ = newState;
    if (OnStateChange)
        OnStateChange(*this, newState);
    if (QuickProgress && QuickStatus) {
        if (QuickStatus->SimplePanel())
            QuickStatus->SetSimpleText(StateText());
        else
            QuickStatus->SetFirstPanelText(StateText());
    }
    return true;
}

std::string TWinInetControl::StateText() const {
    switch (state_) {
    case 0:
        return FormatText("Disconnecting from %s", {HostName});
    case 1:
        return "No connection";
    case 2:
        return FormatText("Connecting to %s", {HostName});
    case 3:
        return FormatText("Connected to %s", {HostName});
    case 4:
        return FormatText("Resolving name %s", {HostName});
    case 5:
        return FormatText("Resolved name %s", {HostName});
    default:
        return "Unknown state!  Contact support ...";
    }
}

std::string TWinInetControl::LastResponseText() const {
    std::uint32_t error = 0;
    std::string text;
    if (wininet::GetLastResponseInfo(error, text) && !text.empty())
        return text;
    return kNoResponseText;
}

std::string TWinInetControl::ConnectErrorText(std::uint32_t errorCode, const std::string& host,
                                              const std::string& user) {
    switch (errorCode) {
    case wininet::kErrorInternetTimeout:
        return FormatText("Connection to %s timed out", {host});
    case wininet::kErrorInternetInternalError:
        return "Internal WININET error";
    case wininet::kErrorInternetNameNotResolved:
        return FormatText("Unable to resolve host name '%s'", {host});
    case wininet::kErrorInternetIncorrectUserName:
        return FormatText("Bad user name: '%s' connecting to %s", {user, host});
    case wininet::kErrorInternetIncorrectPassword:
        return FormatText("Bad password connecting to %s", {host});
    case wininet::kErrorInternetLoginFailure:
    case wininet::kErrorInternetCannotConnect:
        return FormatText("Unable to connect to %s", {host});
    default:
        return FormatText("General Connection Error to %s", {host});
    }
}

void TWinInetControl::RaiseConnectError(std::uint32_t errorCode) {
    SetState(kStateNoConnection);
    if (SilentExceptions)
        return;
    throw EWinInetError(ConnectErrorText(errorCode, HostName, UserName));
}

void TWinInetControl::StatusCallback(std::uint32_t status, const void*, std::uint32_t) {
    switch (status) {
    case wininet::kStatusClosingConnection:
        SetState(0);
        break;
    case wininet::kStatusConnectionClosed:
        SetState(1);
        break;
    case wininet::kStatusConnectingToServer:
        SetState(2);
        break;
    case wininet::kStatusConnectedToServer:
        SetState(3);
        break;
    case wininet::kStatusResolvingName:
        SetState(4);
        break;
    case wininet::kStatusNameResolved:
        SetState(5);
        break;
    default:
        break;
    }
}

void TWinInetControl::StatusCallbackFunction(std::uintptr_t context, std::uint32_t status, const void* info,
                                             std::uint32_t length) {
    auto* control = reinterpret_cast<TWinInetControl*>(context);
    if (control && !control->destroying_)
        control->StatusCallback(status, info, length);
}

} // namespace pelorix
