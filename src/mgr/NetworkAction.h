#pragma once
// RunNetworkAction: how every network action of the manager runs (the address query, the
// manual upload and mail, the connection checks). The work runs on a thread of its own under
// one network deadline (platform/NetworkDeadline.h), so it ends within the limit however its
// server stalls; meanwhile the GUI thread waits in an event loop that paints, receives monitor
// lines and runs timers but takes no user input, and the wait cursor shows. A close of the
// window asked for meanwhile (Alt+F4, the window manager's close button) is held back and
// carried out once the action is over and no box is open any more.
//
// The work must not touch widgets: it takes what it needs by value and leaves its results in
// variables the caller reads after the call, e.g.
//
//     pelorix::PageUploadResult upload;
//     RunNetworkAction(this, [&] { upload = pelorix::UploadPageFile(params); });
//     ... show upload's outcome ...
//
// An exception escaping the work is rethrown by RunNetworkAction on the GUI thread (where the
// application's error box shows it). GUI thread only.

#include <functional>

class QWidget;

// The longest a network action may take, all its exchanges together.
inline constexpr int kNetworkActionLimitMs = 60000;

// Runs work as described above and returns when it has ended. window: the window whose close
// is held back meanwhile (may be null).
void RunNetworkAction(QWidget* window, const std::function<void()>& work);

// Whether an action is running now.
bool NetworkActionRunning();

// Test seam: the limit of the actions started from now on; 0 restores kNetworkActionLimitMs.
void SetNetworkActionLimitMs(int ms);
