#pragma once
// TSimpleFTP: the FTP client of both programs, on TWinInetControl. Used for one job: log in,
// change to the directory of the published page, upload one local file under its remote name,
// log out. Adds the FTP connection, the remote working directory (remembered while not
// connected and entered at the next login), transfer type, passive mode, single-file upload
// and transfer progress. Owned by its creator for one upload; used on one thread only.
//
// With SilentExceptions (the default) failures give false; the one error still thrown then is
// EFOpenError from PutFile when the local file cannot be opened for measuring.

#include "common/ConnectionMode.h"
#include "net/WinInetControl.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace pelorix {

class ESimpleFTPError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A local file that cannot be opened: "Cannot open file "path". reason".
class EFOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TFTPTransferType { ttBinary = 0, ttAscii = 1, ttUnknown = 2 };
enum TFTPFileSystemType { ftUnix = 0, ftUnknown = 1 };

struct TFTPProgressInfo {
    std::int32_t BytesDone = 0;
    std::int32_t BytesTotal = 0;
    std::int32_t FileIndex = 0;
    std::int32_t FileCount = 0;
    std::string FileName; // without directory
};

class TSimpleFTP;
using TLoginEvent = std::function<void(TSimpleFTP& sender, std::string& userName, std::string& password)>;
using TTransferProgressEvent = std::function<void(TSimpleFTP& sender, const TFTPProgressInfo& progress)>;
using TFindItemEvent = std::function<void(TSimpleFTP& sender, const std::string& name)>;

// One trailing "/" or "\" removed from a text longer than one character ("/" stays "/").
std::string StripTrailingSlash(const std::string& directory);

class TSimpleFTP : public TWinInetControl {
public:
    TSimpleFTP();
    ~TSimpleFTP() override;

    std::string LocalDir;           // stored only
    bool FailIfExistsOnGet = false; // stored only
    TNotifyEvent OnDirectoryChange;
    TFindItemEvent OnFindItem; // stored only
    TLoginEvent OnLogin;
    TTransferProgressEvent OnTransferProgress;
    using TWinInetControl::OnDisconnected;
    TQuickLabel* QuickLabelMinor = nullptr;
    TQuickLabel* QuickLabelMajor = nullptr;
    TQuickProgressBar* QuickProgressMajor = nullptr;

    // Called for every status notification, so that a windowed host can process its pending
    // events while a transfer runs.
    std::function<void()> ProcessMessages;

    TFTPTransferType TransferType() const { return transferType_; }
    void SetTransferType(TFTPTransferType type);
    // Not connected: the remembered directory; connected: what the server says.
    std::string RemoteDir();
    void SetRemoteDir(const std::string& directory) { ChangeDir(directory); }
    TFTPFileSystemType FileSystemType() const { return fileSystemType_; }
    void SetFileSystemType(TFTPFileSystemType type);
    // Takes effect at the next Connect.
    bool Passive() const { return passive_; }
    void SetPassive(bool passive);

    // How the next Connect reaches the server (FTPMode) and what it trusts there (FTPTrust, see
    // net/Trust.h); Port 0 takes the standard port of the security.
    ConnectionMode Security = ConnectionMode::Plain;
    std::string Trust;

    bool Connect() override;
    bool Disconnect() override;
    bool ChangeDir(const std::string& directory);
    bool PutFile(const std::string& localPath, const std::string& remoteName);
    // Both in the current directory; a file of the new name is replaced. False when the server
    // refuses.
    bool RenameFile(const std::string& from, const std::string& to);
    bool RemoveFile(const std::string& name);
    void UpdateQuickProgress() override;
    void StatusCallback(std::uint32_t status, const void* info, std::uint32_t length) override;

    const TFTPProgressInfo& Progress() const { return progress_; }
    const std::string& WelcomeText() const { return welcomeText_; }

private:
    std::unique_ptr<wininet::FtpConnection> connection_;
    TFTPTransferType transferType_ = ttBinary;
    std::uint32_t transferFlags_ = wininet::kTransferTypeBinary;
    TFTPFileSystemType fileSystemType_ = ftUnix;
    bool passive_ = false;
    std::string rememberedDir_;
    std::string welcomeText_;
    TFTPProgressInfo progress_;
};

} // namespace pelorix
