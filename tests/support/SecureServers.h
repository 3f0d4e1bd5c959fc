#pragma once
// Debian's real secure servers for integration tests, on 127.0.0.1 inside the test's private
// network namespace: vsftpd with TLS (explicit with AUTH TLS and logins forced onto TLS, or
// implicit) and OpenSSH's sshd with internal-sftp. Both log in a system user made for the test
// with a password (removed again with the object), so they need root: Available() says whether
// the test can run at all. Certificates and keys are made by the test with openssl and
// ssh-keygen; Pin() and Fingerprint() give what a client has to trust.

#include "ServerProcess.h"
#include "TempDir.h"

#include <memory>
#include <string>

namespace pelorix::test {

// A system user with a password whose home is a fresh directory it owns.
class TestUser {
public:
    TestUser();
    ~TestUser();
    TestUser(const TestUser&) = delete;
    TestUser& operator=(const TestUser&) = delete;

    bool Made() const { return made_; }
    const std::string& Name() const { return name_; }
    static constexpr const char* kPassword = "geheim14";
    // The home directory (absolute, without trailing "/"); uploads go there.
    const std::string& Home() const { return home_; }
    std::string Read(const std::string& name) const;
    void Write(const std::string& name, const std::string& bytes) const;
    bool Exists(const std::string& name) const;

private:
    std::string name_;
    std::string home_;
    bool made_ = false;
};

// Whether this process may make users and start the servers (root, and both installed).
bool SecureServersAvailable();

class VsftpdServer {
public:
    enum class Tls { Explicit, Implicit };
    // With cert and key (PEM files) empty, a self-signed certificate made for it.
    VsftpdServer(Tls tls, int port, const TestUser& user, const std::string& cert = {},
                 const std::string& key = {});
    ~VsftpdServer();

    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    // "sha256//…" of the server's certificate.
    const std::string& Pin() const { return pin_; }
    int Pid() const { return process_ ? process_->Pid() : -1; }
    std::string Log() const;

private:
    TempDir dir_;
    int port_;
    std::string pin_;
    std::unique_ptr<ServerProcess> process_;
    bool ready_ = false;
};

class SftpServer {
public:
    // With an RSA host key the server takes only its SHA-2 signatures, as OpenSSH since 8.8.
    enum class HostKey { Ed25519, RsaOnly };

    SftpServer(int port, const TestUser& user, HostKey key = HostKey::Ed25519);
    ~SftpServer();

    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    // The listening sshd; each connection is served by a child of it.
    int Pid() const;
    // "SHA256:…" of the host key, as ssh-keygen -l prints it.
    const std::string& Fingerprint() const { return fingerprint_; }
    std::string Log() const;

private:
    TempDir dir_;
    int port_;
    std::string fingerprint_;
    std::unique_ptr<ServerProcess> process_;
    bool ready_ = false;
};

// A certificate authority and a server certificate it signed for 127.0.0.1 and localhost,
// and a self-signed one; for HTTPS tests.
struct TestCertificates {
    explicit TestCertificates(const TempDir& dir);
    std::string AuthorityFile; // the CA's certificate (a bundle of one)
    std::string ServerCert;
    std::string ServerKey;
    std::string SelfSignedCert;
    std::string SelfSignedKey;
    bool Made = false;
};

// "sha256//" + base64 of the SHA-256 of the public key in DER of the certificate in cert (PEM),
// as openssl computes it.
std::string PinOf(const std::string& cert);

// The output of a shell command line (its exit status in status).
std::string ShellOutput(const std::string& command, int* status = nullptr);

} // namespace pelorix::test
