// Upload stage: the generated page to the web space by FTP, then the mail when it is on.

#include "platform/ChildProcess.h"
#include "svc/PageUpload.h"
#include "svc/Pelorix_Main.h"

#include <optional>
#include <string>

namespace pelorix {

namespace {

std::string EncodeResult(const PageUploadResult& result) {
    std::string bytes(1, static_cast<char>('0' + static_cast<int>(result.Outcome)));
    return bytes + result.StoredAs + '\0' + result.ErrorText;
}

std::optional<PageUploadResult> DecodeResult(const std::string& bytes) {
    const auto zero = bytes.find('\0');
    if (bytes.empty() || zero == std::string::npos || bytes[0] < '0' ||
        bytes[0] > '0' + static_cast<int>(PageUploadOutcome::Error))
        return std::nullopt;
    PageUploadResult result;
    result.Outcome = static_cast<PageUploadOutcome>(bytes[0] - '0');
    result.StoredAs = bytes.substr(1, zero - 1);
    result.ErrorText = bytes.substr(zero + 1);
    return result;
}

// The transfer runs in a child process: the FTP engine and the TLS libraries it loads stay
// out of the long-running service (they would keep megabytes resident after the first
// upload). Where no child can be made, the upload runs here.
PageUploadResult UploadPageApart(const PageUploadParams& params) {
    const auto answer = RunInChildProcess([&params] { return EncodeResult(UploadPageFile(params)); });
    if (answer) {
        if (auto result = DecodeResult(*answer))
            return *result;
    }
    return UploadPageFile(params);
}

} // namespace

bool TPeloThread::UploadPage() {
    PageUploadParams params;
    params.Host = Service.FTPHost;
    params.User = Service.FTPUser;
    params.Password = Service.FTPPass;
    params.Passive = Service.FTPPassive;
    params.LocalFile = Service.TempSite;
    params.RemoteSite = Service.FTPSite;

    // Without a file name in the remote path there is nothing to log in for.
    if (SplitRemotePath(params.RemoteSite).FileName.empty()) {
        LogStatus(0, "-FTP-Upload gescheitert");
        return false;
    }
    LogStatus(4, "+FTP-Login gestartet");
    const PageUploadResult result = UploadPageApart(params);
    switch (result.Outcome) {
    case PageUploadOutcome::Uploaded:
        LogStatus(0, "+FTP-Upload OK mit " + CurrentIP + " als " + result.StoredAs);
        break;
    case PageUploadOutcome::Error:
        LogStatus(0, "-FTP-Fehler: " + result.ErrorText);
        break;
    default:
        LogStatus(0, "-FTP-Upload gescheitert");
        break;
    }
    if (result.Succeeded() && Service.eMail)
        NotifyByMail(true);
    return result.Succeeded();
}

} // namespace pelorix
