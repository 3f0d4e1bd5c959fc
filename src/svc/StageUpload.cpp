// Upload stage: the generated page to the web space by FTP, then the mail when it is on.

#include "net/Trust.h"
#include "net/TrustText.h"
#include "svc/PageUpload.h"
#include "svc/Pelorix_Main.h"
#include "svc/ServiceHelpers.h"

#include <optional>
#include <string>

namespace pelorix {

bool TPeloThread::UploadPage() {
    PageUploadParams params;
    params.Host = Service.FTPHost;
    params.User = Service.FTPUser;
    params.Password = Service.FTPPass;
    params.Passive = Service.FTPPassive;
    params.Mode = Service.FTPMode;
    params.Port = Service.FTPPort;
    params.Trust = Service.FTPTrust;
    params.DirectUpload = DirectUpload;
    params.LocalFile = Service.TempSite;
    params.RemoteSite = Service.FTPSite;

    // Without a file name in the remote path there is nothing to log in for.
    if (SplitRemotePath(params.RemoteSite).FileName.empty()) {
        LogStatus(0, "-FTP-Upload gescheitert");
        return false;
    }
    LogStatus(4, "+FTP-Login gestartet");
    // The transfer runs in a helper process only: the FTP engine and the TLS libraries it loads
    // stay out of the long-running service, and so does a crash a hostile server provokes. A
    // helper that dies is a failed attempt; the next one starts a new helper.
    const std::optional<PageUploadResult> answer = UploadPageInHelper(params);
    if (!answer) {
        LogStatus(1, "-Upload-Prozess unerwartet beendet");
        LogStatus(0, "-FTP-Upload gescheitert");
        return false;
    }
    const PageUploadResult& result = *answer;
    switch (result.Outcome) {
    case PageUploadOutcome::Uploaded:
        if (result.PinUnneeded)
            LogStatus(1, PinUnneededLine());
        LogStatus(0, "+FTP-Upload OK mit " + CurrentIP + " als " + result.StoredAs);
        break;
    case PageUploadOutcome::Error:
        LogStatus(0, "-FTP-Fehler: " + result.ErrorText);
        break;
    default: {
        const std::string cause = UploadFailureCause(result);
        LogStatus(0, cause.empty() ? "-FTP-Upload gescheitert" : "-FTP-Upload gescheitert: " + cause);
        if (result.Unavailable)
            LogStatus(0, UnavailableConnectionLine());
        if (!result.UntrustedKey.empty())
            LogStatus(0, UntrustedKeyLine(result));
        if (!result.ServerReply.empty())
            LogStatus(1, "-FTP-Antwort: " + CleanServerReply(result.ServerReply));
        break;
    }
    }
    // Once refused, the rename is not asked for again while the service runs.
    if (result.RenameRefused)
        DirectUpload = true;
    if (result.Succeeded() && Service.eMail)
        NotifyByMail(true);
    return result.Succeeded();
}

} // namespace pelorix
