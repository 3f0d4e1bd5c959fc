#pragma once
// Publishing the generated page by FTP: the split of the remote path into directory and file
// name, and the upload itself (log in, change to the directory, store the file, log out).
// Shared by the worker's upload stage and the manager's manual upload, which report the
// outcome in their own ways. Runs on the calling thread and blocks it.

#include <functional>
#include <string>

namespace pelorix {

class TSimpleFTP;

// Directory and file name of a remote path: "/myserver.htm" gives "/" and "myserver.htm",
// "/web/ip/index.htm" gives "/web/ip" and "index.htm", "web/index.htm" gives "web" and
// "index.htm", a bare file name gives an empty directory.
struct RemotePath {
    std::string Directory;
    std::string FileName;
};
RemotePath SplitRemotePath(const std::string& site);

struct PageUploadParams {
    std::string Host;
    std::string User;
    std::string Password; // plain
    bool Passive = false;
    std::string LocalFile;  // the page to upload
    std::string RemoteSite; // remote path, directory and file name
    // Optional: called with the client before it connects (a windowed host sets
    // ProcessMessages there, say).
    std::function<void(TSimpleFTP&)> Prepare;
};

enum class PageUploadOutcome {
    Uploaded,     // the file was stored
    NoFileName,   // the remote path names no file; nothing was tried
    LoginFailed,  // Connect failed
    UploadFailed, // PutFile failed
    Error         // an error was raised inside the FTP work (ErrorText)
};

struct PageUploadResult {
    PageUploadOutcome Outcome = PageUploadOutcome::UploadFailed;
    // Where the file went, for the success message: directory with trailing "/" (none when it
    // was the root's "/" alone, nothing when the change failed or there was no directory),
    // then the file name — "/myserver.htm", "/web/ip/index.htm", "index.htm".
    std::string StoredAs;
    std::string ErrorText;
    bool Succeeded() const { return Outcome == PageUploadOutcome::Uploaded; }
};

// One FTP object for the one upload; a directory that cannot be entered sends the file to the
// login directory. Never throws.
PageUploadResult UploadPageFile(const PageUploadParams& params);

} // namespace pelorix
