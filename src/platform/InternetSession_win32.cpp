#include "platform/InternetSession.h"

namespace pelorix::wininet {

// STUB
struct SessionSettings {};
struct FtpConnection::Impl {};

std::uint32_t LastError() {
    return kErrorInternetInternalError;
}
void SetCurlLibraryFile(std::string) {}
bool CurlLibraryLoaded() {
    return false;
}
std::uint16_t StandardPort(FtpSecurity security) {
    return security == FtpSecurity::ImplicitTls ? 990 : security == FtpSecurity::Sftp ? 22 : 21;
}
std::string LastUntrustedKey() {
    return {};
}
std::string LastFailureReason() {
    return {};
}
void SetAuthorityFile(std::string) {}
bool GetLastResponseInfo(std::uint32_t&, std::string&) {
    return false;
}
bool FetchHttps(const std::string&, std::uint32_t, std::size_t, std::string&, std::uint32_t& error,
                std::string&) {
    error = kErrorInternetInternalError;
    return false;
}

InternetSession::InternetSession(std::string, std::uint32_t, std::string, std::string, std::uint32_t) {}
InternetSession::~InternetSession() = default;
StatusCallback InternetSession::SetStatusCallback(StatusCallback) {
    return nullptr;
}
void InternetSession::SetSecurity(FtpSecurity, PeerTrust) {}
bool InternetSession::SetOption(std::uint32_t, std::uint32_t) {
    return false;
}
bool InternetSession::QueryOption(std::uint32_t, std::uint32_t&) const {
    return false;
}
std::unique_ptr<FtpConnection> InternetSession::ConnectFtp(const std::string&, std::uint16_t,
                                                           const std::string&, const std::string&,
                                                           std::uint32_t, std::uintptr_t) {
    return nullptr;
}
FtpConnection::FtpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FtpConnection::~FtpConnection() = default;
StatusCallback FtpConnection::SetStatusCallback(StatusCallback) {
    return nullptr;
}
bool FtpConnection::ChangeDirectory(const std::string&) {
    return false;
}
bool FtpConnection::QueryCurrentDirectory(std::string&) {
    return false;
}
bool FtpConnection::PutFile(const std::string&, const std::string&, std::uint32_t, std::uintptr_t) {
    return false;
}
bool FtpConnection::RenameFile(const std::string&, const std::string&) {
    return false;
}
bool FtpConnection::RemoveFile(const std::string&) {
    return false;
}

} // namespace pelorix::wininet
