#pragma once
// How a profile line's names and values are read and written, the same for both systems' halves
// of ProfileFile: names compare without letter case (the Latin-1 letters too, as the Windows
// calls do); a value the reader would change is written in quotes.

#include <string>
#include <string_view>

namespace pelorix::profile {

// Blanks around a name or a value; a line break ends the line.
std::string_view Trim(std::string_view text);

bool SameName(std::string_view a, std::string_view b);

// A value as it will stand in the file: in quotes where the reader would change it
// (surrounding blanks, a pair of quotes), so that every value reads back as it was written; a
// line break, which would end the line, becomes a blank.
std::string EncodeValue(std::string_view value);

// What the reader makes of a value as it stands in the file.
std::string_view DecodeValue(std::string_view stored);

} // namespace pelorix::profile
