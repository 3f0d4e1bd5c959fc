#pragma once
// Text for the person at the console, on standard output or standard error. The program's
// texts are Latin-1; each system gets them in its own form: UTF-8 on Linux, on Windows the
// characters themselves on a console and the console's code page in a file or pipe.

#include <string_view>

namespace pelorix {

enum class StandardStream { Output, Error };

// Writes latin1 whole ("\n" ends a line on either system).
void WriteStandardText(StandardStream stream, std::string_view latin1);

} // namespace pelorix
