#pragma once
// Publishing the generated page by FTP: the split of the remote path into directory and file
// name, and the upload itself (log in, change to the directory, store the file, log out).
// Shared by the worker's upload stage and the manager's manual upload, which report the
// outcome in their own ways. Runs on the calling thread and blocks it.

#include "net/Trust.h"

#include <cstdint>
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
    int Mode = 0;              // FTPMode as stored (common/ConnectionMode.h); unknown ones are refused
    int Port = 0;              // FTPPort: 0 for the mode's standard port
    std::string Trust;         // FTPTrust
    bool DirectUpload = false; // store under the final name at once (the server refused a rename)
    std::string LocalFile;     // the page to upload
    std::string RemoteSite;    // remote path, directory and file name
    // Optional: called with the client before it connects (a windowed host sets
    // ProcessMessages there, say).
    std::function<void(TSimpleFTP&)> Prepare;
};

enum class PageUploadOutcome {
    Uploaded,     // the file was stored
    NoFileName,   // the remote path names no file; nothing was tried
    LoginFailed,  // Connect failed
    UploadFailed, // PutFile failed
    Error,        // an error was raised inside the FTP work (ErrorText)
    LoggedIn      // CheckLogin only: the login succeeded
};

struct PageUploadResult {
    PageUploadOutcome Outcome = PageUploadOutcome::UploadFailed;
    // Where the file went, for the success message: directory with trailing "/" (none when it
    // was the root's "/" alone, nothing when the change failed or there was no directory),
    // then the file name — "/myserver.htm", "/web/ip/index.htm", "index.htm".
    std::string StoredAs;
    std::string ErrorText;
    // After a failed login or transfer: the server's last reply, or libcurl's reason.
    std::string ServerReply;
    // After a failed login or transfer: the failure's number (net/InternetSession.h).
    std::uint32_t Error = 0;
    // After a refused certificate or host key: what the server showed ("sha256//…", "SHA256:…").
    std::string UntrustedKey;
    // The whole refusal: why, and what the server showed (net/TrustText.h words it).
    TrustDecision Refusal;
    // The authorities vouched for the server although FTPTrust holds a pin.
    bool PinUnneeded = false;
    // The server refused to rename the temporary file; the page went up under its name.
    bool RenameRefused = false;
    // The connection type (FTPMode) is not offered on this system: nothing was sent.
    bool Unavailable = false;
    bool Succeeded() const { return Outcome == PageUploadOutcome::Uploaded; }
};

// The page goes up under this name next to its final one and is renamed when complete, so a
// transfer that breaks leaves the old page in place.
inline constexpr const char* kTemporarySuffix = ".pelorix-tmp";

// A server reply as one status line: control characters removed (a run of them between two
// parts becomes one blank), at most 200 characters.
std::string CleanServerReply(const std::string& reply);

// What the upload line names as the cause of a failed attempt: empty when the reply tells
// nothing more than that it failed.
std::string UploadFailureCause(const PageUploadResult& result);

// The level-0 line for a refused certificate or host key (by the form of the key).
std::string UntrustedKeyLine(const std::string& key);
// The level-0 line for the refusal of a result: with its reason when the decision came along.
std::string UntrustedKeyLine(const PageUploadResult& result);

// One FTP object for the one upload; a directory that cannot be entered sends the file to the
// login directory. Never throws.
PageUploadResult UploadPageFile(const PageUploadParams& params);

// Logs in with the parameters and out again, nothing stored: LoggedIn or LoginFailed (with the
// reply and a refused key), Error for an error raised inside.
PageUploadResult CheckLogin(const PageUploadParams& params);

} // namespace pelorix
