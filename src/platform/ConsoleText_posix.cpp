#include "platform/ConsoleText.h"

#include "base/Latin1.h"
#include "platform/FileReplace.h"

#include <unistd.h>

namespace pelorix {

void WriteStandardText(StandardStream stream, std::string_view latin1) {
    WriteAllBytes(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO, Latin1ToUtf8(latin1));
}

} // namespace pelorix
