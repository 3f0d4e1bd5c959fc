#include "platform/InstanceLock.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

namespace pelorix {

namespace {

// The name stands for the directory however it was written: full, in lower case, without a
// closing separator. Object names may not contain a backslash beyond the namespace prefix;
// "Global\" lets a service and a run from a console session see each other.
std::string MutexName(const std::string& directory) {
    constexpr std::string_view kPrefix = "Global\\Pelorix-";
    char full[MAX_PATH + 1] = {};
    const DWORD length =
        ::GetFullPathNameA(directory.empty() ? "." : directory.c_str(), sizeof full, full, nullptr);
    std::string name = length > 0 && length < sizeof full ? std::string(full, length) : directory;
    while (name.size() > 3 && (name.back() == '\\' || name.back() == '/'))
        name.pop_back();
    if (!name.empty())
        ::CharLowerBuffA(name.data(), static_cast<DWORD>(name.size()));
    for (char& c : name) {
        if (c == '\\')
            c = '/';
    }
    if (kPrefix.size() + name.size() < MAX_PATH)
        return std::string(kPrefix) + name;
    // Too long for an object name: one that stands for it (FNV-1a).
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(kPrefix) + hex;
}

} // namespace

// The named object is the lock: whoever creates it holds it until its handle is closed, which
// the system does when the process ends, however it ends. The handle is not inherited, so a
// helper the service starts does not keep the lock after the service ends.
TInstanceLock::TInstanceLock(const std::string& directory) {
    const HANDLE mutex = ::CreateMutexA(nullptr, FALSE, MutexName(directory).c_str());
    // A service running as another account made the object: it exists, though it will not
    // open for us.
    if (mutex == nullptr) {
        takenByOther_ = ::GetLastError() == ERROR_ACCESS_DENIED;
        return;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        takenByOther_ = true;
        ::CloseHandle(mutex);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

TInstanceLock::~TInstanceLock() {
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

} // namespace pelorix
