#include "ServerProcess.h"

#include "platform/TcpSocket.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <thread>

// The servers are Debian's programs, and the tests run under Wine: Wine starts a Unix program
// that a Windows program starts, but hands back no handle to it. So the server is started
// through sh, which writes the server's Unix process number to a file, and it is watched and
// stopped by that number (/proc and kill); its exit status stays unknown here.

namespace pelorix::test {
namespace {

constexpr int kSigKill = 9;
constexpr int kSigTerm = 15;

bool IsWindowsPath(const std::string& text) {
    return text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
           (text[2] == '\\' || text[2] == '/');
}

// The Unix name of a Windows path, as Wine's own kernel32 extension gives it.
std::string UnixName(const std::string& path) {
    if (!IsWindowsPath(path))
        return path;
    using Convert = char*(CDECL*)(LPCWSTR);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wide[2 * MAX_PATH] = {};
    if (convert == nullptr || ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, 2 * MAX_PATH) == 0)
        return path;
    char* unixName = convert(wide);
    if (unixName == nullptr)
        return path;
    std::string result(unixName);
    ::HeapFree(::GetProcessHeap(), 0, unixName);
    return result;
}

// One argument of a Windows command line, quoted so it is split back exactly.
std::string Quoted(const std::string& argument) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        out += c;
        backslashes = 0;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

// Starts a Unix program (argv[0] a Unix path); Wine runs it detached.
bool StartUnixProgram(const std::vector<std::string>& argv) {
    std::string program = "Z:" + argv[0];
    std::replace(program.begin(), program.end(), '/', '\\');
    std::string commandLine = Quoted(program);
    for (std::size_t i = 1; i < argv.size(); ++i)
        commandLine += " " + Quoted(argv[i]);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return false;
    if (process.hThread)
        ::CloseHandle(process.hThread);
    if (process.hProcess)
        ::CloseHandle(process.hProcess);
    return true;
}

// Whether the Unix process still runs (an ended one that nobody reaped counts as ended).
bool Alive(int pid) {
    std::ifstream stat("Z:\\proc\\" + std::to_string(pid) + "\\stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

void SignalGroup(int pid, int signo) {
    StartUnixProgram({"/bin/kill", "-s", std::to_string(signo), "--", "-" + std::to_string(pid)});
}

bool WaitUntilEnded(int pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Alive(pid)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

ServerProcess::ServerProcess(std::vector<std::string> argv, std::string logFile, std::string workDir) {
    char temp[MAX_PATH + 1] = {};
    char pidFile[MAX_PATH + 1] = {};
    if (argv.empty() || ::GetTempPathA(MAX_PATH, temp) == 0 ||
        ::GetTempFileNameA(temp, "pid", 0, pidFile) == 0)
        return;
    ::DeleteFileA(pidFile);
    // The server gets a session of its own, so Stop reaches everything it started.
    std::vector<std::string> unixArgv{
        "/bin/sh",
        "-c",
        "pidfile=$1 log=$2 dir=$3; shift 3\n"
        "[ -z \"$dir\" ] || cd \"$dir\" || exit 126\n"
        "exec /usr/bin/setsid /bin/sh -c 'echo $$ >\"$0.new\" && /bin/mv \"$0.new\" \"$0\" && exec \"$@\"' "
        "\"$pidfile\" \"$@\" </dev/null >>\"$log\" 2>&1",
        "sh",
        UnixName(pidFile),
        logFile.empty() ? "/dev/null" : UnixName(logFile),
        UnixName(workDir)};
    for (const auto& argument : argv)
        unixArgv.push_back(UnixName(argument));
    if (!StartUnixProgram(unixArgv))
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(pidFile);
        int pid = 0;
        if (in >> pid && pid > 0) {
            pid_ = pid;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::DeleteFileA(pidFile);
}

ServerProcess::~ServerProcess() {
    Stop();
}

bool ServerProcess::WaitForPort(int port, int timeoutMs, const std::string& host) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        TcpSocket probe;
        if (probe.Connect(host, static_cast<std::uint16_t>(port), 500) == TcpResult::Ok)
            return true;
        if (pid_ > 0 && !Alive(pid_))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void ServerProcess::Signal(int signo) const {
    if (pid_ > 0 && !reaped_)
        StartUnixProgram({"/bin/kill", "-s", std::to_string(signo), std::to_string(pid_)});
}

// The exit status is not known here: an ended server gives 0.
int ServerProcess::Wait(int timeoutMs) {
    if (pid_ <= 0)
        return -1;
    if (!reaped_ && WaitUntilEnded(pid_, timeoutMs)) {
        reaped_ = true;
        status_ = 0;
    }
    return reaped_ ? status_ : -1;
}

void ServerProcess::Stop() {
    if (pid_ <= 0)
        return;
    SignalGroup(pid_, kSigTerm);
    if (Wait(3000) < 0) {
        SignalGroup(pid_, kSigKill);
        Wait(3000);
    }
    SignalGroup(pid_, kSigKill); // children that outlived their parent
    pid_ = -1;
}

} // namespace pelorix::test
