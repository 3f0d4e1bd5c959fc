#include "svc/StatusLog.h"

#include "base/Latin1.h"
#include "net/SimpSock.h"
#include "platform/ConsoleText.h"
#include "platform/FileReplace.h"
#include "platform/FileSystemName.h"
#include "platform/SystemMessage.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>

namespace pelorix {

namespace {

constexpr int kMonitorTimeoutMs = 2000;

std::mutex logFileMutex;
std::atomic<bool> consoleEcho{false};

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

} // namespace

std::string TimeStamp(const LocalTime& time) {
    return "[" + TwoDigits(time.hour) + ":" + TwoDigits(time.minute) + ":" + TwoDigits(time.second) + "] ";
}

std::string DateHeader(const LocalTime& time) {
    return "\r\n#" + TwoDigits(time.day) + "." + TwoDigits(time.month) + "." + TwoDigits(time.year) + "#";
}

void AppendRecord(std::string& buffer, std::string_view text) {
    buffer += "\r\n";
    buffer += text;
    TrimPending(buffer);
}

void AppendPending(std::string& buffer, std::string_view records) {
    buffer += records;
    TrimPending(buffer);
}

void TrimPending(std::string& buffer) {
    if (buffer.size() <= kMaxPendingLog)
        return;
    // Drop whole records from the front: cut at the first record start beyond the excess.
    const std::size_t excess = buffer.size() - kMaxPendingLog;
    const std::size_t cut = buffer.find("\r\n", excess);
    if (cut == std::string::npos)
        buffer.clear();
    else
        buffer.erase(0, cut);
}

namespace {

constexpr mode_t kLogFileMode = 0664;

// 0 or the errno of the failure; the caller holds logFileMutex.
int AppendLocked(const std::string& name, std::string_view text) {
    return AppendWholeText(name, text, kLogFileMode);
}

// Records that a flush handed over but the file did not take yet, per log file.
std::map<std::string, std::string>& Backlogs() {
    static std::map<std::string, std::string> backlogs;
    return backlogs;
}

void SayLogUnwritable(const std::string& name, int error) {
    SayOnStandardError("Pelorix-Protokoll " + name + " kann nicht geschrieben werden: " +
                       SystemErrorText(error) + " Die Meldungen werden aufgehoben.");
}

} // namespace

bool AppendToLogFile(const std::string& programDir, std::string_view text) {
    std::lock_guard lock(logFileMutex);
    return AppendLocked(FileSystemName(programDir + kLogFileName), text) == 0;
}

bool FlushToLogFile(const std::string& programDir, std::string& buffer) {
    const std::string name = FileSystemName(programDir + kLogFileName);
    std::lock_guard lock(logFileMutex);
    auto& backlogs = Backlogs();
    const auto found = backlogs.find(name);
    const bool failedBefore = found != backlogs.end();
    std::string text = failedBefore ? std::move(found->second) + buffer : std::move(buffer);
    buffer.clear();
    if (text.empty())
        return true;
    const int error = AppendLocked(name, text);
    if (error == 0) {
        if (failedBefore)
            backlogs.erase(found);
        return true;
    }
    TrimPending(text);
    backlogs[name] = std::move(text);
    if (!failedBefore)
        SayLogUnwritable(SystemTextOfName(name), error);
    return false;
}

void SendMonitorLine(const std::string& line) {
    TSimpSock socket;
    // The peer is on this machine: a manager that does not take the line at once is not served.
    socket.ConnectTimeoutMs = kMonitorTimeoutMs;
    socket.ReceiveTimeoutMs = kMonitorTimeoutMs;
    socket.SendToMonitor(line + "\r\n");
}

void SayOnStandardError(std::string_view text) {
    WriteStandardText(StandardStream::Error, std::string(text) + "\n");
}

void SetConsoleEcho(bool on) {
    consoleEcho = on;
}

void EchoKeptLine(std::string_view line) {
    if (!consoleEcho)
        return;
    // One write per line, so lines of the two threads do not mix on the terminal.
    WriteStandardText(StandardStream::Error, std::string(line) + "\n");
}

} // namespace pelorix
