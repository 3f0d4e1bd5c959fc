#pragma once
// TWinInetControl: the base of the protocol clients on the internet session layer
// (platform/InternetSession.h). It owns the session, applies the connect options, turns the
// session's status notifications into a small connection state with change events and an
// optional display in attached controls, and turns error numbers into EWinInetError — or, by
// default (SilentExceptions), into plain false results. It makes no protocol connection
// itself; TSimpleFTP derives from it. Owned by whoever created it; used on one thread only.

#include "net/InternetSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelorix {

class EWinInetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How the session reaches the internet.
enum TResolveNames { rnLocal = 0, rnPreConfig = 1, rnProxy = 2 };

// 0 disconnecting, 1 no connection, 2 connecting, 3 connected, 4 resolving, 5 resolved.
using TWinInetState = int;
inline constexpr TWinInetState kStateConnected = 3;
inline constexpr TWinInetState kStateNoConnection = 1;

// Displays a windowed host may attach; the client only writes to them.
class TQuickProgressBar {
public:
    virtual ~TQuickProgressBar() = default;
    virtual void SetMax(int max) = 0;
    virtual void SetPosition(int position) = 0;
};

class TQuickStatusBar {
public:
    virtual ~TQuickStatusBar() = default;
    virtual bool SimplePanel() const = 0;
    virtual void SetSimpleText(const std::string& text) = 0;
    virtual void SetFirstPanelText(const std::string& text) = 0;
};

class TQuickLabel {
public:
    virtual ~TQuickLabel() = default;
    virtual void SetCaption(const std::string& text) = 0;
};

class TWinInetControl;
using TNotifyEvent = std::function<void(TWinInetControl& sender)>;
using TStateChangeEvent = std::function<void(TWinInetControl& sender, TWinInetState newState)>;

// "%s" in pattern replaced by the arguments in order.
std::string FormatText(const std::string& pattern, std::initializer_list<std::string> args);

class TWinInetControl {
public:
    static constexpr std::uint32_t kDefaultConnectTimeout = 300000;
    static constexpr std::uint32_t kDefaultConnectRetries = 3;

    TWinInetControl();
    virtual ~TWinInetControl();
    TWinInetControl(const TWinInetControl&) = delete;
    TWinInetControl& operator=(const TWinInetControl&) = delete;

    std::string HostName;
    std::string UserName;
    std::string Password;
    int Port = 0;
    std::string ProxyName; // used only with rnProxy
    bool QuickProgress = false;
    TQuickProgressBar* QuickProgressMinor = nullptr;
    TQuickStatusBar* QuickStatus = nullptr;
    bool SilentExceptions = true;
    TNotifyEvent OnConnected;
    TStateChangeEvent OnStateChange;

    std::uint32_t ConnectRetries() const;
    void SetConnectRetries(std::uint32_t retries);
    bool EnableCache() const { return enableCache_; }
    void SetEnableCache(bool enable);
    const std::vector<std::string>& ProxyBypassList() const { return proxyBypassList_; }
    void SetProxyBypassList(const std::vector<std::string>& hosts) { proxyBypassList_ = hosts; }
    // Milliseconds; 0 stores the default.
    std::uint32_t ConnectTimeout() const;
    void SetConnectTimeout(std::uint32_t milliseconds);
    TResolveNames ResolveNames() const { return resolveNames_; }
    void SetResolveNames(TResolveNames value);

    // Opens the session, registers the status callback and applies the options. Returns true
    // only when already connected: the protocol connection is the descendant's.
    virtual bool Connect();
    // Closes the session; state 1.
    virtual bool Disconnect();
    virtual void UpdateQuickProgress() = 0;
    // State 1; raises EWinInetError with the text for the error number unless SilentExceptions.
    virtual void RaiseConnectError(std::uint32_t errorCode);
    // One status notification of the session.
    virtual void StatusCallback(std::uint32_t status, const void* info, std::uint32_t length);

    // True when the state changed.
    bool SetState(TWinInetState newState);
    TWinInetState State() const { return state_; }
    std::string StateText() const;
    // The server's last reply, or kNoResponseText.
    std::string LastResponseText() const;
    static constexpr const char* kNoResponseText = "No error description available";

    static std::string ConnectErrorText(std::uint32_t errorCode, const std::string& host,
                                        const std::string& user);

protected:
    std::uint32_t AccessType() const { return accessType_; }
    std::uint32_t RequestFlags() const { return requestFlags_; }
    wininet::InternetSession* Session() const { return session_.get(); }
    void CloseSession() { session_.reset(); }
    // Called first by the destructor of the most derived class: what follows fires no events.
    void BeginDestruction() { destroying_ = true; }
    bool Destroying() const { return destroying_; }
    // Handed to the session as context value of every handle an object makes.
    std::uintptr_t Context() { return reinterpret_cast<std::uintptr_t>(this); }
    static void StatusCallbackFunction(std::uintptr_t context, std::uint32_t status, const void* info,
                                       std::uint32_t length);

    TNotifyEvent OnDisconnected; // published by TSimpleFTP
    std::uint32_t connectFlags_ = 0;

private:
    TWinInetState state_ = kStateNoConnection;
    std::uint32_t connectRetries_ = kDefaultConnectRetries;
    std::uint32_t connectTimeout_ = kDefaultConnectTimeout;
    bool enableCache_ = false;
    std::uint32_t requestFlags_ = wininet::kFlagReload;
    std::vector<std::string> proxyBypassList_;
    TResolveNames resolveNames_ = rnLocal;
    std::uint32_t accessType_ = wininet::kOpenTypeDirect;
    std::unique_ptr<wininet::InternetSession> session_;
    bool destroying_ = false;
};

} // namespace pelorix
