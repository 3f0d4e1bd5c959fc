#include "TempDir.h"

#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace pelorix::test {

// Below the user's temporary directory (inside the Wine prefix of the build), in the system's
// own form with backslashes, as the service sees its program directory there.
TempDir::TempDir() {
    char base[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, base);
    if (length == 0 || length > MAX_PATH)
        throw std::runtime_error("GetTempPathA failed");
    static const DWORD process = ::GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = std::string(base) + "pelorix-test-" + std::to_string(process) + "-" +
                                      std::to_string(::GetTickCount() + attempt);
        if (::CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate + "\\";
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    throw std::runtime_error("CreateDirectoryA failed");
}

// A file made read-only by a test could not be deleted as it stands.
TempDir::~TempDir() {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().string();
        const DWORD attributes = ::GetFileAttributesA(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            ::SetFileAttributesA(name.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    std::filesystem::remove_all(path_, ec);
}

} // namespace pelorix::test
