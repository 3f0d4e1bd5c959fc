#pragma once
// The service control manager as ServiceActions.cpp calls it: Windows' own, or on Linux the
// system's layer with the same calls. Internal to the manager core.

#ifdef _WIN32
#include <windows.h>

#include <string>

namespace pelorix::servicepage {

// Owns one handle of the service control manager and closes it.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
    ~ScHandle() { Reset(); }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset() {
        if (handle_)
            CloseServiceHandle(handle_);
        handle_ = nullptr;
    }

private:
    SC_HANDLE handle_;
};

std::string ErrorText(DWORD error);

} // namespace pelorix::servicepage
#else
#include "scm/ServiceControl.h"

namespace pelorix::servicepage {
using namespace pelorix::scm;
} // namespace pelorix::servicepage
#endif

namespace pelorix::servicepage {

// Registers the service program of programDir; program: its path for the failure text.
// Failure leaves the reason for GetLastError.
bool RegisterService(SC_HANDLE manager, const std::string& programDir, std::string& program);

} // namespace pelorix::servicepage
