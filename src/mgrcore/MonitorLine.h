#pragma once
// How the manager shows a status line the service sends to its monitor, and how the tray icon
// follows the lines: information lines ("+" after the time stamp) black, every other line red,
// the monitor's own notes blue. The tray icon's state changes live here; the view carries them
// out (icon, tip, timer, box).

#include <cstdint>
#include <string>
#include <string_view>

namespace pelorix {

// The line without its line end is an information line.
bool IsInformationLine(std::string_view line);

// Colours as 0xRRGGBB.
inline constexpr std::uint32_t kLineBlack = 0x000000;
inline constexpr std::uint32_t kLineRed = 0xFF0000;
inline constexpr std::uint32_t kNoteBlue = 0x0000FF;
std::uint32_t LineColour(std::string_view line);

std::string MonitorOnNote();
std::string MonitorOffNote();

// The list's size limit: beyond kMaxMonitorLines lines the kDropMonitorLines oldest go.
inline constexpr int kMaxMonitorLines = 4000;
inline constexpr int kDropMonitorLines = 100;

// The three icons of the tray.
enum class TrayIcon { Idle, Active, Error };
const char* TrayIconName(TrayIcon icon); // the icon resource
std::string TrayIconTip(TrayIcon icon);

// How long an information line keeps the tray icon active.
inline constexpr int kTrayActiveMs = 1500;

// What the tray does, as the view carries it out.
struct TrayStep {
    bool ChangeIcon = false;
    TrayIcon Icon = TrayIcon::Idle;
    bool StartTimer = false;
    bool ShowErrorBox = false; // TrayErrorText(line)
};
// One complete line in tray mode. timerRunning: the active phase's timer runs; showErrors:
// "bei Fehlern melden" is checked; trayError: the icon shows the error state (updated).
TrayStep TrayLineStep(bool informationLine, bool timerRunning, bool showErrors, bool& trayError);
// The active phase's timer has run out (the view stops it).
TrayStep TrayTickStep(bool trayError);

} // namespace pelorix
