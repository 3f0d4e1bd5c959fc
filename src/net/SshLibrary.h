#pragma once
// libssh, loaded when the first SFTP connection needs it and unloaded when the last one is
// closed, like libcurl (net/CurlLibrary.h): only the process that uploads carries it, and only
// while it does. Only the functions below are used; nothing links libssh.

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <string>

namespace pelorix::wininet {

// The libssh functions the SFTP session calls, resolved from the loaded library.
struct SshApi {
    ssh_session (*new_session)();
    void (*free_session)(ssh_session session);
    int (*options_set)(ssh_session session, enum ssh_options_e type, const void* value);
    int (*connect)(ssh_session session);
    void (*disconnect)(ssh_session session);
    const char* (*get_error)(void* error);
    socket_t (*get_fd)(ssh_session session);
    const char* (*get_serverbanner)(ssh_session session);
    int (*get_server_publickey)(ssh_session session, ssh_key* key);
    int (*export_pubkey_base64)(const ssh_key key, char** base64);
    void (*key_free)(ssh_key key);
    void (*string_free_char)(char* text);
    int (*userauth_password)(ssh_session session, const char* user, const char* password);
    sftp_session (*sftp_new)(ssh_session session);
    int (*sftp_init)(sftp_session sftp);
    void (*sftp_free)(sftp_session sftp);
    int (*sftp_get_error)(sftp_session sftp);
    sftp_attributes (*sftp_stat)(sftp_session sftp, const char* path);
    void (*sftp_attributes_free)(sftp_attributes attributes);
    char* (*sftp_canonicalize_path)(sftp_session sftp, const char* path);
    sftp_file (*sftp_open)(sftp_session sftp, const char* path, int access, mode_t mode);
    ssize_t (*sftp_write)(sftp_file file, const void* data, size_t count);
    int (*sftp_close)(sftp_file file);
    int (*sftp_rename)(sftp_session sftp, const char* from, const char* to);
    int (*sftp_unlink)(sftp_session sftp, const char* path);
};

// The loaded functions for one user, or null with the reason in error; Release for each
// successful Acquire.
const SshApi* AcquireSsh(std::string& error);
void ReleaseSsh();

// The libssh file loaded on the next first connection (empty restores the system's).
void SetSshLibraryFile(std::string file);

// Whether libssh is loaded right now, i.e. some SFTP connection is open or being made.
bool SshLibraryLoaded();

// Ends every wait on the connection's socket at once (from any thread): the session's next
// or current read or write fails.
void CutSshSocket(socket_t fd);

// One user's hold on the loaded library: loads it when needed, lets it go when destroyed.
class SshHold {
public:
    SshHold() = default;
    ~SshHold() { Reset(); }
    SshHold(const SshHold&) = delete;
    SshHold& operator=(const SshHold&) = delete;

    bool Take(std::string& error) {
        Reset();
        api_ = AcquireSsh(error);
        return api_ != nullptr;
    }
    void Reset() {
        if (api_)
            ReleaseSsh();
        api_ = nullptr;
    }
    const SshApi& operator*() const { return *api_; }
    const SshApi* operator->() const { return api_; }

private:
    const SshApi* api_ = nullptr;
};

} // namespace pelorix::wininet
