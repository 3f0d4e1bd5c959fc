#include "mgrcore/ServiceApi.h"

namespace pelorix::servicepage {

namespace {
// The service program registers itself; it needs far less than this.
constexpr DWORD kRegisterLimitMs = 30000;
} // namespace

std::string ErrorText(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : "Fehler " + std::to_string(error);
    if (text)
        LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}

// The service program's own /INSTALL knows its account, description and recovery; the manager
// runs it rather than registering the program itself.
bool RegisterService(SC_HANDLE, const std::string& programDir, std::string& program) {
    program = programDir + "PelorixSvc.exe";
    std::string commandLine = "\"" + program + "\" /INSTALL /SILENT";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.hProcess, kRegisterLimitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hProcess);
    if (exitCode != 0)
        SetLastError(exitCode == 1 ? ERROR_SERVICE_EXISTS : exitCode);
    return exitCode == 0;
}

} // namespace pelorix::servicepage
