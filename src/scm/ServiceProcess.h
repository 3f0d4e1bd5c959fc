#pragma once
// What the service program does first, before it reads any settings: as root it leaves root
// for the service's account (ServiceControl.h), and it sheds the environment of whoever started
// it. Its helpers, started as the same program, go the same way.

#include <string>

namespace pelorix {

// Root switches to the account for good. Where that account does not exist, root goes on only
// when settingsPath and every directory above it are root's alone, since what the settings
// name is read and written with the process's rights; otherwise one German line on stderr
// says why. Then the program runs itself again with a clean environment, so not even its
// process's record of the start keeps anything else (argv as main got it). False when the
// program must end at once (exit code 1); true to go on. settingsPath is system text, as
// IniPath gives it. Windows: nothing to do.
bool PrepareServiceProcess(char** argv, const std::string& settingsPath);

} // namespace pelorix
