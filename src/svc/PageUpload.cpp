#include "svc/PageUpload.h"

#include "net/SimpFTP.h"

#include <exception>

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

PageUploadResult UploadPageFile(const PageUploadParams& params) {
    PageUploadResult result;
    RemotePath path = SplitRemotePath(params.RemoteSite);
    // An empty remote path (or one ending in "/") names no file to store.
    if (path.FileName.empty()) {
        result.Outcome = PageUploadOutcome::NoFileName;
        return result;
    }
    try {
        TSimpleFTP ftp;
        ftp.HostName = params.Host;
        ftp.UserName = params.User;
        ftp.Password = params.Password;
        ftp.SetPassive(params.Passive);
        if (params.Prepare)
            params.Prepare(ftp);
        if (!ftp.Connect()) {
            result.Outcome = PageUploadOutcome::LoginFailed;
            return result;
        }
        if (!path.Directory.empty()) {
            if (!ftp.ChangeDir(path.Directory))
                path.Directory.clear();
            else if (path.Directory != "/")
                path.Directory += '/'; // the root alone already ends in "/"
        }
        if (ftp.PutFile(params.LocalFile, path.FileName)) {
            result.Outcome = PageUploadOutcome::Uploaded;
            result.StoredAs = path.Directory + path.FileName;
        } else {
            result.Outcome = PageUploadOutcome::UploadFailed;
        }
        ftp.Disconnect();
    } catch (const std::exception& e) {
        result.Outcome = PageUploadOutcome::Error;
        result.ErrorText = e.what();
    }
    return result;
}

} // namespace pelorix
