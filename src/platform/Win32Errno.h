#pragma once
// The Windows halves report failures as errno values, as the Linux halves do, so the callers
// and the message texts stay the same on both systems. Only Windows halves include this.

namespace pelorix {

// The errno value for a Win32 error code (GetLastError); EIO for one without a close match.
int ErrnoOfWin32Error(unsigned long error);

} // namespace pelorix
