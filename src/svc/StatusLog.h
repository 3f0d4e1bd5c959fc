#pragma once
// Status reporting shared by the service module and its worker: the time stamp and date
// header of a record, the bounded buffer of pending records, the append to Pelorix.log (one
// lock for the whole process, so records of the two threads never interleave), the monitor
// link, and the copy of kept lines to standard error in foreground mode.

#include "platform/Clock.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace pelorix {

inline constexpr const char* kLogFileName = "Pelorix.log";
inline constexpr int kMonitorPort = 60123;

// At most this much text waits for the log file while it cannot be written; the oldest
// records go first.
inline constexpr std::size_t kMaxPendingLog = 256 * 1024;

// "[hh:nn:ss] ": eleven characters, the manager relies on that length.
std::string TimeStamp(const LocalTime& time);
// The record that starts each service run in the log file: CR LF "#dd.mm.yy#".
std::string DateHeader(const LocalTime& time);

// Appends CR LF + text to the buffer, dropping the oldest records beyond kMaxPendingLog.
void AppendRecord(std::string& buffer, std::string_view text);
// Appends records (each beginning with CR LF) taken from another buffer, with the same bound.
void AppendPending(std::string& buffer, std::string_view records);
// Drops the oldest records until the buffer holds at most kMaxPendingLog characters.
void TrimPending(std::string& buffer);

// Appends text to programDir + Pelorix.log (created when missing, mode 0664 whatever the
// umask, so whoever runs the service next may go on appending), exactly as it stands. A write
// that fails half way is rolled back, so the file only ever holds whole appends. False on any
// error; nothing is reported.
bool AppendToLogFile(const std::string& programDir, std::string_view text);

// The flush of a buffer of records (both the module's and the worker's): the buffer is
// handed over and emptied. What cannot be written now waits, per log file, ahead of whatever
// a later flush brings, so the file holds every record once and in the order the flushes
// came, the date header of a start above its lines. The first failure after a success is
// said once on standard error (the journal), instead of losing lines without a word. True
// when everything pending is in the file.
bool FlushToLogFile(const std::string& programDir, std::string& buffer);

// Sends one line to the manager's monitor: one connection to localhost:60123, the line and
// CR LF, closed again. The result is of no interest; a line nobody takes is dropped.
void SendMonitorLine(const std::string& line);

// One line of Latin-1 text on standard error (the terminal, or the journal), in UTF-8.
void SayOnStandardError(std::string_view text);

// Foreground mode: every kept line also goes to standard error, in UTF-8.
void SetConsoleEcho(bool on);
void EchoKeptLine(std::string_view line);

} // namespace pelorix
