#pragma once
// The pages of mapped files a process holds. A library loaded for a while and unloaded again
// may leave code mapped (a library that marks itself never to be unloaded); its pages would go
// on counting as the process's own. Free functions; any thread.

#include <set>
#include <string>

namespace pelorix {

// The file paths mapped into this process right now.
std::set<std::string> MappedFiles();

// Gives back the pages of the still mapped files among broughtByLoad that are plain copies of
// the file (not writable, nothing changed privately): the kernel reads them again from the
// file should they ever be used again, so nothing is lost.
void ReleaseLeftOverPages(const std::set<std::string>& broughtByLoad);

} // namespace pelorix
