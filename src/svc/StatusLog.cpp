#include "svc/StatusLog.h"

#include "common/Latin1.h"
#include "net/SimpSock.h"
#include "platform/FileReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
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

bool AppendToLogFile(const std::string& programDir, std::string_view text) {
    const std::string name = programDir + kLogFileName;
    std::lock_guard lock(logFileMutex);
    FileDescriptor file(::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (file.Get() < 0)
        return false;
    const bool written = WriteAllBytes(file.Get(), text) == 0;
    const bool closed = file.Close();
    return written && closed;
}

void SendMonitorLine(const std::string& line) {
    TSimpSock socket;
    // The peer is on this machine: a manager that does not take the line at once is not served.
    socket.ConnectTimeoutMs = kMonitorTimeoutMs;
    socket.ReceiveTimeoutMs = kMonitorTimeoutMs;
    socket.SendToMonitor(line + "\r\n");
}

void SetConsoleEcho(bool on) {
    consoleEcho = on;
}

void EchoKeptLine(std::string_view line) {
    if (!consoleEcho)
        return;
    // One write per line, so lines of the two threads do not mix on the terminal.
    const std::string text = Latin1ToUtf8(line) + "\n";
    WriteAllBytes(STDERR_FILENO, text);
}

} // namespace pelorix
