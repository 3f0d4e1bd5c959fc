#include "net/SimpFTP.h"

#include "net/Trust.h"
#include "platform/FileSystemName.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace pelorix {

namespace {

std::string NamePart(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(FileSystemName(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Opens the file for reading to measure it; an error passes to the caller.
std::int32_t MeasureFile(const std::string& path) {
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(FileSystemName(path).c_str(), "rb"),
                                                         &std::fclose);
    struct stat info {};
    if (file && ::fstat(::fileno(file.get()), &info) == 0 && S_ISDIR(info.st_mode))
        errno = EISDIR;
    else if (file)
        return static_cast<std::int32_t>(
            std::min<std::int64_t>(info.st_size, std::numeric_limits<std::int32_t>::max()));
    const int error = errno != 0 ? errno : ENOENT;
    throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(error));
}

// The stored trust text as the session applies it; text of the wrong form trusts nothing
// beyond the system's authorities (and no SSH key at all).
wininet::PeerTrust PeerTrustOf(const std::string& text) {
    const TrustSetting setting = ParseTrust(text);
    wininet::PeerTrust trust;
    if (!setting.Valid)
        return trust;
    if (setting.Kind == TrustKind::PublicKeyPin)
        trust.PublicKeyPin = setting.Value;
    else if (setting.Kind == TrustKind::HostKeyFingerprint)
        trust.HostKeySha256 = setting.Value.substr(std::string_view("SHA256:").size());
    return trust;
}

} // namespace

std::string StripTrailingSlash(const std::string& directory) {
    if (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\'))
        return directory.substr(0, directory.size() - 1);
    return directory;
}

TSimpleFTP::TSimpleFTP() {
    Port = 21;
    QuickProgress = false;
}

TSimpleFTP::~TSimpleFTP() {
    BeginDestruction();
    Disconnect();
}

void TSimpleFTP::SetTransferType(TFTPTransferType type) {
    transferType_ = type;
    switch (type) {
    case ttAscii:
        transferFlags_ = wininet::kTransferTypeAscii;
        break;
    case ttUnknown:
        transferFlags_ = wininet::kTransferTypeUnknown;
        break;
    default:
        transferFlags_ = wininet::kTransferTypeBinary;
        break;
    }
}

void TSimpleFTP::SetFileSystemType(TFTPFileSystemType type) {
    if (State() == kStateConnected) {
        if (!SilentExceptions)
            throw ESimpleFTPError("Cannot change file system type when connected");
        return;
    }
    fileSystemType_ = type;
}

void TSimpleFTP::SetPassive(bool passive) {
    passive_ = passive;
    if (passive)
        connectFlags_ |= wininet::kFlagPassive;
    else
        connectFlags_ &= ~wininet::kFlagPassive;
}

bool TSimpleFTP::Connect() {
    const bool result = TWinInetControl::Connect();
    if (OnLogin)
        OnLogin(*this, UserName, Password);
    if (Session() && !connection_) {
        Session()->SetSecurity(Security, PeerTrustOf(Trust));
        connection_ = Session()->ConnectFtp(HostName, static_cast<std::uint16_t>(Port), UserName, Password,
                                            connectFlags_, Context());
    }
    const std::uint32_t error = wininet::LastError();
    if (connection_) {
        welcomeText_ = LastResponseText();
        if (!rememberedDir_.empty())
            ChangeDir(rememberedDir_);
        if (OnConnected)
            OnConnected(*this);
        return true;
    }
    CloseSession();
    RaiseConnectError(error);
    return result;
}

bool TSimpleFTP::Disconnect() {
    try {
        connection_.reset();
        return TWinInetControl::Disconnect();
    } catch (const std::exception&) {
        return false;
    }
}

bool TSimpleFTP::ChangeDir(const std::string& directory) {
    if (State() != kStateConnected || !connection_) {
        rememberedDir_ = directory;
        return true;
    }
    if (connection_->ChangeDirectory(StripTrailingSlash(directory))) {
        rememberedDir_ = directory;
        if (OnDirectoryChange)
            OnDirectoryChange(*this);
        return true;
    }
    if (SilentExceptions || fileSystemType_ == ftUnknown)
        return false;
    throw ESimpleFTPError(FormatText("Couldn't change to directory %s", {directory}));
}

std::string TSimpleFTP::RemoteDir() {
    if (State() != kStateConnected || !connection_)
        return rememberedDir_;
    // The question is no part of a transfer: no notifications for it.
    const auto callback = connection_->SetStatusCallback(nullptr);
    std::string directory;
    const bool ok = connection_->QueryCurrentDirectory(directory);
    connection_->SetStatusCallback(callback);
    return ok ? directory : rememberedDir_;
}

bool TSimpleFTP::PutFile(const std::string& localPath, const std::string& remoteName) {
    const bool connected = State() == kStateConnected && connection_;
    if (!connected && !SilentExceptions)
        throw ESimpleFTPError("Not connected!");
    if (!FileExists(localPath) && !SilentExceptions)
        throw ESimpleFTPError(
            FormatText("Error putting %s to %s: local file not found", {localPath, remoteName}));
    progress_.BytesDone = 0;
    progress_.BytesTotal = MeasureFile(localPath);
    progress_.FileName = NamePart(localPath);
    const bool ok = connected && connection_->PutFile(localPath, remoteName, transferFlags_, Context());
    if (!ok && !SilentExceptions)
        throw ESimpleFTPError(FormatText("Error putting %s to %s", {localPath, remoteName}));
    return ok;
}

bool TSimpleFTP::RenameFile(const std::string& from, const std::string& to) {
    return State() == kStateConnected && connection_ && connection_->RenameFile(from, to);
}

bool TSimpleFTP::RemoveFile(const std::string& name) {
    return State() == kStateConnected && connection_ && connection_->RemoveFile(name);
}

void TSimpleFTP::StatusCallback(std::uint32_t status, const void* info, std::uint32_t length) {
    TWinInetControl::StatusCallback(status, info, length);
    if ((status == wininet::kStatusRequestSent || status == wininet::kStatusResponseReceived) && info &&
        length >= sizeof(std::uint32_t)) {
        std::uint32_t count = 0;
        std::memcpy(&count, info, sizeof count);
        const std::int64_t done = static_cast<std::int64_t>(progress_.BytesDone) + count;
        if (count == 0 || done > progress_.BytesTotal)
            progress_.BytesDone = progress_.BytesTotal;
        else
            progress_.BytesDone = static_cast<std::int32_t>(done);
        if (OnTransferProgress && !progress_.FileName.empty())
            OnTransferProgress(*this, progress_);
        if (QuickProgress)
            UpdateQuickProgress();
    }
    if (ProcessMessages)
        ProcessMessages();
}

void TSimpleFTP::UpdateQuickProgress() {
    if (QuickProgressMajor) {
        QuickProgressMajor->SetMax(progress_.FileCount);
        QuickProgressMajor->SetPosition(progress_.FileIndex);
    }
    if (QuickProgressMinor) {
        QuickProgressMinor->SetMax(100);
        int position = 0;
        if (progress_.BytesTotal > 0) {
            // nearbyint rounds halves to even, as the progress bar always did
            position = static_cast<int>(
                std::nearbyint(static_cast<double>(progress_.BytesDone) / progress_.BytesTotal * 100.0));
        }
        QuickProgressMinor->SetPosition(position);
    }
    if (QuickLabelMajor && progress_.FileCount > 0)
        QuickLabelMajor->SetCaption(std::to_string(progress_.FileIndex) + " of " +
                                    std::to_string(progress_.FileCount));
    if (QuickLabelMinor && !progress_.FileName.empty())
        QuickLabelMinor->SetCaption(progress_.FileName);
}

} // namespace pelorix
