#pragma once
// What the page "Management" does with the publishing service: install it, refresh its state,
// start, stop, pause, continue and remove it, through the service control manager (on Linux
// the system's own service control layer that stands in for it). Each call blocks for its
// request and waits for no new state: the status word and the button set follow the request
// sent, not its outcome; only the refresh reports the real state. The view carries out the
// outcome: status line, buttons, boxes.

#include <functional>
#include <string>

namespace pelorix {

enum class ServiceButtons { Keep, Stopped, Running, Paused, None };

// Which of the four control buttons a button set enables.
struct ServiceButtonStates {
    bool Start, Stop, Pause, Continue;
};
ServiceButtonStates ButtonStates(ServiceButtons set);

struct ServiceOutcome {
    std::string Status; // the status word (Latin-1)
    ServiceButtons Buttons = ServiceButtons::Keep;
    int InstallEnabled = -1; // "Installieren": -1 as it is, 0 disabled, 1 enabled
    std::string Error;       // for the application's error box; empty: none
    std::string Information; // for an information box; empty: none
};

// The request of a button's tag: 0 refresh, 1 start, 2 stop, 3 pause, 4 continue, 5 the silent
// refresh when the page is shown, 6 remove (only after confirmRemoval said yes; its default
// answer must be No).
ServiceOutcome ServiceAction(int tag, const std::function<bool(const std::string& question)>& confirmRemoval);

// Registers the service program in programDir (with its trailing separator).
ServiceOutcome InstallServiceAction(const std::string& programDir);

// The status line: "[hh:nn:ss]: " and the status word.
std::string ServiceStatusText(const std::string& status);

} // namespace pelorix
