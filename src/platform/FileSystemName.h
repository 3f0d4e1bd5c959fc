#pragma once
// Names of files are Latin-1 text inside the system (Pelorix.ini stores them so, the manager
// saves a picked path so), but the file system takes UTF-8. Every place that opens, creates,
// renames or measures a file named by such a text converts the name here, once, right at the
// call; names that come from the file system itself (the program's own path) are turned
// into system text on the way in. Free functions; any thread.

#include <string>
#include <string_view>

namespace pelorix {

// System text (Latin-1) → the name the file system knows (UTF-8).
std::string FileSystemName(std::string_view text);

// The same conversion for a name that goes to a server which takes UTF-8 names.
std::string Utf8Name(std::string_view text);

// A name as the file system gave it (UTF-8) → system text; characters beyond Latin-1 and
// broken sequences become '?'.
std::string SystemTextOfName(std::string_view name);

// The directory of the running program's file with its trailing separator, as system text;
// "./" when it cannot be told.
std::string ProgramDirectory();

} // namespace pelorix
