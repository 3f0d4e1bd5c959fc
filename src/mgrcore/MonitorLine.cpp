#include "mgrcore/MonitorLine.h"

namespace pelorix {

namespace {
// The status line's marker stands after the eleven characters of its time stamp.
constexpr std::size_t kMarkerIndex = 11;
} // namespace

bool IsInformationLine(std::string_view line) {
    return line.size() > kMarkerIndex && line[kMarkerIndex] == '+';
}

std::uint32_t LineColour(std::string_view line) {
    return IsInformationLine(line) ? kLineBlack : kLineRed;
}

std::string MonitorOnNote() {
    return "*** Meldungsempfang eingeschaltet";
}

std::string MonitorOffNote() {
    return "*** Meldungsempfang ausgeschaltet";
}

const char* TrayIconName(TrayIcon icon) {
    switch (icon) {
    case TrayIcon::Active:
        return "PIC_GN";
    case TrayIcon::Error:
        return "PIC_RT";
    case TrayIcon::Idle:
        break;
    }
    return "PIC_SW";
}

std::string TrayIconTip(TrayIcon icon) {
    switch (icon) {
    case TrayIcon::Active:
        return "Pelorix (aktiv)";
    case TrayIcon::Error:
        return "Pelorix (Fehler)";
    case TrayIcon::Idle:
        break;
    }
    return "Pelorix (Pause)";
}

TrayStep TrayLineStep(bool informationLine, bool timerRunning, bool showErrors, bool& trayError) {
    TrayStep step;
    if (!informationLine) {
        trayError = true;
        step.ChangeIcon = true;
        step.Icon = TrayIcon::Error;
        step.ShowErrorBox = showErrors;
        return step;
    }
    // While the timer runs, further information lines change nothing.
    if (timerRunning)
        return step;
    trayError = false;
    step.ChangeIcon = true;
    step.Icon = TrayIcon::Active;
    step.StartTimer = true;
    return step;
}

TrayStep TrayTickStep(bool trayError) {
    TrayStep step;
    if (!trayError) {
        step.ChangeIcon = true;
        step.Icon = TrayIcon::Idle;
    }
    return step;
}

} // namespace pelorix
