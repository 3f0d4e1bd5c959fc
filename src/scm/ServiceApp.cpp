#include "scm/ServiceApp.h"

#include <cctype>

namespace pelorix {

bool ServiceDispatcher::Control(ServiceControl control) {
    std::lock_guard lock(mutex_);
    switch (control) {
    case ServiceControl::Start:
        if (state_ != ServiceState::Stopped || started_ || !handlers_.Start())
            return false;
        started_ = true;
        state_ = ServiceState::Running;
        return true;
    case ServiceControl::Stop:
        if (state_ == ServiceState::Stopped || !handlers_.Stop())
            return false;
        state_ = ServiceState::Stopped;
        return true;
    case ServiceControl::Pause:
        if (state_ != ServiceState::Running || !handlers_.Pause())
            return false;
        state_ = ServiceState::Paused;
        return true;
    case ServiceControl::Continue:
        if (state_ != ServiceState::Paused || !handlers_.Continue())
            return false;
        state_ = ServiceState::Running;
        return true;
    }
    return false;
}

ServiceState ServiceDispatcher::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool IsSwitch(std::string_view arg, std::string_view name) {
    if (arg.size() != name.size() + 1 || (arg[0] != '/' && arg[0] != '-'))
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto a = static_cast<unsigned char>(arg[i + 1]);
        const auto n = static_cast<unsigned char>(name[i]);
        if (std::tolower(a) != std::tolower(n))
            return false;
    }
    return true;
}

std::optional<ServiceSwitches> ReadServiceSwitches(int argc, char** argv) {
    ServiceSwitches switches;
    for (int i = 1; i < argc; ++i) {
        if (IsSwitch(argv[i], "foreground"))
            switches.foreground = true;
        else if (IsSwitch(argv[i], "install"))
            switches.install = true;
        else if (IsSwitch(argv[i], "uninstall"))
            switches.uninstall = true;
        else if (IsSwitch(argv[i], "silent"))
            switches.silent = true;
        else
            return std::nullopt;
    }
    return switches;
}

} // namespace pelorix
