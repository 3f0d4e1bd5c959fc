#pragma once
// Helpers for tests that run the real PelorixSvc: a copy of the program in a test directory
// (which becomes its program directory, with Pelorix.ini and Pelorix.log), bounded waits for
// its log, and a check of the log's records.

#include "ServerProcess.h"
#include "TempDir.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace pelorix::test {

inline std::string InstallService(const TempDir& dir, const std::string& ini) {
    const std::string program = dir.File("PelorixSvc");
    std::filesystem::copy_file(BinaryPath("src/svc/PelorixSvc"), program);
    dir.Write("Pelorix.ini", ini);
    return program;
}

inline std::string ReadIfThere(const TempDir& dir, const std::string& name) {
    return dir.Exists(name) ? dir.Read(name) : std::string();
}

// Waits at most timeoutMs until the file holds text.
inline bool WaitForText(const TempDir& dir, const std::string& name, const std::string& text,
                        int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadIfThere(dir, name).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

inline std::string TodayHeader() {
    const LocalTime t = SystemClock::Instance().Now();
    char text[16];
    std::snprintf(text, sizeof text, "#%02d.%02d.%02d#", t.day, t.month, t.year % 100);
    return text;
}

inline bool IsTimeStamp(const std::string& s) {
    if (s.size() < 11 || s[0] != '[' || s[3] != ':' || s[6] != ':' || s[9] != ']' || s[10] != ' ')
        return false;
    for (int i : {1, 2, 4, 5, 7, 8})
        if (s[static_cast<std::size_t>(i)] < '0' || s[static_cast<std::size_t>(i)] > '9')
            return false;
    return true;
}

// The log is exactly: CR LF, today's date header, then for each text CR LF, a time stamp
// and the text.
inline ::testing::AssertionResult LogIs(const std::string& log, const std::string& header,
                                        const std::vector<std::string>& texts) {
    std::vector<std::string> records;
    std::size_t pos = 0;
    if (log.rfind("\r\n", 0) != 0)
        return ::testing::AssertionFailure() << "log does not begin with CR LF: " << log;
    while (pos < log.size()) {
        const std::size_t next = log.find("\r\n", pos + 2);
        records.push_back(
            log.substr(pos + 2, next == std::string::npos ? std::string::npos : next - pos - 2));
        pos = next == std::string::npos ? log.size() : next;
    }
    if (records.size() != texts.size() + 1)
        return ::testing::AssertionFailure() << records.size() << " records in: " << log;
    if (records[0] != header)
        return ::testing::AssertionFailure() << "header " << records[0];
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string& r = records[i + 1];
        if (!IsTimeStamp(r) || r.substr(11) != texts[i])
            return ::testing::AssertionFailure() << "record " << i + 1 << ": " << r;
    }
    return ::testing::AssertionSuccess();
}

} // namespace pelorix::test
