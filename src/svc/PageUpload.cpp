#include "svc/PageUpload.h"

#include "common/ConnectionMode.h"
#include "net/FailureCause.h"
#include "net/SimpFTP.h"
#include "net/Trust.h"
#include "net/TrustText.h"

#include <exception>
#include <optional>

namespace pelorix {

RemotePath SplitRemotePath(const std::string& site) {
    std::string rest = site;
    std::string directory = !rest.empty() && rest.front() == '/' ? "/" : "";
    for (auto slash = rest.find('/'); slash != std::string::npos; slash = rest.find('/')) {
        if (!directory.empty() && directory != "/")
            directory += '/';
        directory += rest.substr(0, slash);
        rest.erase(0, slash + 1);
    }
    return {directory, rest};
}

namespace {

constexpr std::size_t kReplyLineMax = 200;

// A mode this program does not know is not taken for plain FTP: the password stays here.
std::optional<ConnectionMode> ModeOrRefusal(const PageUploadParams& params, PageUploadResult& result) {
    const std::optional<ConnectionMode> mode = ConnectionModeFromNumber(params.Mode);
    if (!mode) {
        result.Outcome = PageUploadOutcome::LoginFailed;
        result.ServerReply = UnknownConnectionModeText(params.Mode);
    }
    return mode;
}

void Configure(TSimpleFTP& ftp, const PageUploadParams& params, ConnectionMode mode) {
    ftp.HostName = params.Host;
    ftp.UserName = params.User;
    ftp.Password = params.Password;
    ftp.SetPassive(params.Passive);
    ftp.Security = mode;
    ftp.Port = params.Port > 0 && params.Port <= 65535 ? params.Port : 0;
    ftp.Trust = params.Trust;
    if (params.Prepare)
        params.Prepare(ftp);
}

void KeepFailure(PageUploadResult& result) {
    result.ServerReply = wininet::LastFailureReason();
    result.Error = wininet::LastError();
    result.Unavailable = result.Error == wininet::kErrorNotSupported;
    if (wininet::LastError() == wininet::kErrorInternetSecurityFailure) {
        result.UntrustedKey = wininet::LastUntrustedKey();
        result.Refusal = wininet::LastRefusal();
    }
}

// Under the temporary name, then renamed; a server that refuses the rename gets the page
// under its name directly (and the temporary copy is removed again).
bool StorePage(TSimpleFTP& ftp, const PageUploadParams& params, const std::string& name,
               PageUploadResult& result) {
    if (params.DirectUpload)
        return ftp.PutFile(params.LocalFile, name);
    const std::string temporary = name + kTemporarySuffix;
    if (!ftp.PutFile(params.LocalFile, temporary))
        return false;
    if (ftp.RenameFile(temporary, name))
        return true;
    result.RenameRefused = true;
    ftp.RemoveFile(temporary);
    return ftp.PutFile(params.LocalFile, name);
}

} // namespace

std::string CleanServerReply(const std::string& reply) {
    std::string line;
    bool gap = false;
    for (char c : reply) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            gap = true;
            continue;
        }
        if (gap && !line.empty())
            line += ' ';
        gap = false;
        line += c;
    }
    if (line.size() > kReplyLineMax)
        line.resize(kReplyLineMax);
    return line;
}

std::string UntrustedKeyLine(const std::string& key) {
    return ParseTrust(key).Kind == TrustKind::HostKeyFingerprint ? UnknownHostKeyLine(key)
                                                                 : UntrustedCertificateLine(key);
}

std::string UploadFailureCause(const PageUploadResult& result) {
    // A refused key has its own line, and the server's own refusal (4xx, 5xx) speaks for itself.
    if (!result.UntrustedKey.empty() || result.Unavailable)
        return {};
    const bool refusal =
        !result.ServerReply.empty() && (result.ServerReply[0] == '4' || result.ServerReply[0] == '5');
    return refusal ? std::string() : FailureCause(result.Error, result.ServerReply);
}

std::string UntrustedKeyLine(const PageUploadResult& result) {
    return result.Refusal.SeenKey() == result.UntrustedKey ? RefusalLine(result.Refusal)
                                                           : UntrustedKeyLine(result.UntrustedKey);
}

PageUploadResult UploadPageFile(const PageUploadParams& params) {
    PageUploadResult result;
    RemotePath path = SplitRemotePath(params.RemoteSite);
    // An empty remote path (or one ending in "/") names no file to store.
    if (path.FileName.empty()) {
        result.Outcome = PageUploadOutcome::NoFileName;
        return result;
    }
    const std::optional<ConnectionMode> mode = ModeOrRefusal(params, result);
    if (!mode)
        return result;
    try {
        TSimpleFTP ftp;
        Configure(ftp, params, *mode);
        if (!ftp.Connect()) {
            result.Outcome = PageUploadOutcome::LoginFailed;
            KeepFailure(result);
            return result;
        }
        if (!path.Directory.empty()) {
            if (!ftp.ChangeDir(path.Directory))
                path.Directory.clear();
            else if (path.Directory != "/")
                path.Directory += '/'; // the root alone already ends in "/"
        }
        if (StorePage(ftp, params, path.FileName, result)) {
            result.Outcome = PageUploadOutcome::Uploaded;
            result.PinUnneeded = wininet::LastPinUnneeded();
            result.StoredAs = path.Directory + path.FileName;
        } else {
            result.Outcome = PageUploadOutcome::UploadFailed;
            KeepFailure(result);
        }
        ftp.Disconnect();
    } catch (const std::exception& e) {
        result.Outcome = PageUploadOutcome::Error;
        result.ErrorText = e.what();
    }
    return result;
}

PageUploadResult CheckLogin(const PageUploadParams& params) {
    PageUploadResult result;
    const std::optional<ConnectionMode> mode = ModeOrRefusal(params, result);
    if (!mode)
        return result;
    try {
        TSimpleFTP ftp;
        Configure(ftp, params, *mode);
        if (ftp.Connect()) {
            result.Outcome = PageUploadOutcome::LoggedIn;
            result.PinUnneeded = wininet::LastPinUnneeded();
            // A connection without a greeting (SFTP) has no reply to tell.
            if (ftp.WelcomeText() != TWinInetControl::kNoResponseText)
                result.ServerReply = ftp.WelcomeText();
            ftp.Disconnect();
        } else {
            result.Outcome = PageUploadOutcome::LoginFailed;
            KeepFailure(result);
        }
    } catch (const std::exception& e) {
        result.Outcome = PageUploadOutcome::Error;
        result.ErrorText = e.what();
    }
    return result;
}

} // namespace pelorix
