#include "net/SshLibrary.h"

#include "platform/LoadedLibrary.h"

#include <sys/socket.h>

#include <utility>

namespace pelorix::wininet {

namespace {

SshApi gApi{};
int (*gFinalize)() = nullptr;

bool StartSsh(LoadedLibrary& library, std::string& error) {
    int (*init)() = nullptr;
    const bool resolved = library.Resolve(init, "ssh_init", error) &&
                          library.Resolve(gFinalize, "ssh_finalize", error) &&
                          library.Resolve(gApi.new_session, "ssh_new", error) &&
                          library.Resolve(gApi.free_session, "ssh_free", error) &&
                          library.Resolve(gApi.options_set, "ssh_options_set", error) &&
                          library.Resolve(gApi.connect, "ssh_connect", error) &&
                          library.Resolve(gApi.disconnect, "ssh_disconnect", error) &&
                          library.Resolve(gApi.get_error, "ssh_get_error", error) &&
                          library.Resolve(gApi.get_fd, "ssh_get_fd", error) &&
                          library.Resolve(gApi.get_serverbanner, "ssh_get_serverbanner", error) &&
                          library.Resolve(gApi.get_server_publickey, "ssh_get_server_publickey", error) &&
                          library.Resolve(gApi.export_pubkey_base64, "ssh_pki_export_pubkey_base64", error) &&
                          library.Resolve(gApi.key_free, "ssh_key_free", error) &&
                          library.Resolve(gApi.string_free_char, "ssh_string_free_char", error) &&
                          library.Resolve(gApi.userauth_password, "ssh_userauth_password", error) &&
                          library.Resolve(gApi.sftp_new, "sftp_new", error) &&
                          library.Resolve(gApi.sftp_init, "sftp_init", error) &&
                          library.Resolve(gApi.sftp_free, "sftp_free", error) &&
                          library.Resolve(gApi.sftp_get_error, "sftp_get_error", error) &&
                          library.Resolve(gApi.sftp_stat, "sftp_stat", error) &&
                          library.Resolve(gApi.sftp_attributes_free, "sftp_attributes_free", error) &&
                          library.Resolve(gApi.sftp_canonicalize_path, "sftp_canonicalize_path", error) &&
                          library.Resolve(gApi.sftp_open, "sftp_open", error) &&
                          library.Resolve(gApi.sftp_write, "sftp_write", error) &&
                          library.Resolve(gApi.sftp_close, "sftp_close", error) &&
                          library.Resolve(gApi.sftp_rename, "sftp_rename", error) &&
                          library.Resolve(gApi.sftp_unlink, "sftp_unlink", error);
    if (resolved && init() == SSH_OK)
        return true;
    if (resolved)
        error = "ssh_init failed";
    gApi = {};
    return false;
}

void StopSsh() {
    gFinalize();
    gApi = {};
}

LoadedLibrary& Ssh() {
    // Never destroyed: a connection closed late in the program's exit still finds it.
    static auto* library = new LoadedLibrary("libssh.so.4", &StartSsh, &StopSsh);
    return *library;
}

} // namespace

const SshApi* AcquireSsh(std::string& error) {
    return Ssh().Acquire(error) ? &gApi : nullptr;
}

void ReleaseSsh() {
    Ssh().Release();
}

void SetSshLibraryFile(std::string file) {
    Ssh().SetFile(std::move(file));
}

bool SshLibraryLoaded() {
    return Ssh().Loaded();
}

void CutSshSocket(socket_t fd) {
    ::shutdown(fd, SHUT_RDWR);
}

} // namespace pelorix::wininet
