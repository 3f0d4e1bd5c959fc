#include "SecureServers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace pelorix::test {

namespace {

bool Run(const std::string& command) {
    int status = -1;
    ShellOutput(command, &status);
    return status == 0;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool SelfSigned(const std::string& cert, const std::string& key) {
    return Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + key + "' -out '" + cert +
               "' -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost");
}

} // namespace

std::string PinOf(const std::string& cert) {
    return "sha256//" + Trimmed(ShellOutput("openssl x509 -in '" + cert +
                                            "' -pubkey -noout | openssl pkey -pubin -outform der | "
                                            "openssl dgst -sha256 -binary | base64"));
}

std::string ShellOutput(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return output;
    }
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    const int rc = ::pclose(pipe);
    if (status)
        *status = rc;
    return output;
}

bool SecureServersAvailable() {
    return ::geteuid() == 0 && ::access("/usr/sbin/vsftpd", X_OK) == 0 &&
           ::access("/usr/sbin/sshd", X_OK) == 0;
}

// --- TestUser -------------------------------------------------------------------------------

TestUser::TestUser() : name_("pt14u" + std::to_string(::getpid())), home_("/tmp/pelorix-home-" + name_) {
    if (!SecureServersAvailable())
        return;
    Run("userdel -f " + name_);
    made_ = Run("useradd -M -d " + home_ + " -s /bin/sh " + name_) &&
            Run("echo '" + name_ + ":" + kPassword + "' | chpasswd") && Run("mkdir -p " + home_) &&
            Run("chown " + name_ + ": " + home_);
}

TestUser::~TestUser() {
    if (!SecureServersAvailable())
        return;
    Run("userdel -f " + name_);
    Run("rm -rf " + home_);
}

std::string TestUser::Read(const std::string& name) const {
    std::ifstream in(home_ + "/" + name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void TestUser::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(home_ + "/" + name, std::ios::binary) << bytes;
}

bool TestUser::Exists(const std::string& name) const {
    return ::access((home_ + "/" + name).c_str(), F_OK) == 0;
}

// --- vsftpd ---------------------------------------------------------------------------------

VsftpdServer::VsftpdServer(Tls tls, int port, const TestUser& user, const std::string& cert,
                           const std::string& key)
    : port_(port) {
    if (!cert.empty()) {
        std::ifstream certIn(cert, std::ios::binary);
        std::ifstream keyIn(key, std::ios::binary);
        std::ostringstream certText;
        std::ostringstream keyText;
        certText << certIn.rdbuf();
        keyText << keyIn.rdbuf();
        dir_.Write("cert.pem", certText.str());
        dir_.Write("key.pem", keyText.str());
    }
    if (!user.Made() || (cert.empty() && !SelfSigned(dir_.File("cert.pem"), dir_.File("key.pem"))))
        return;
    pin_ = PinOf(dir_.File("cert.pem"));
    ::mkdir(dir_.File("empty").c_str(), 0755);
    std::ostringstream conf;
    conf << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port
         << "\nbackground=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
         << "pam_service_name=vsftpd\nsecure_chroot_dir=" << dir_.File("empty")
         << "\nseccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
         << "pasv_enable=YES\npasv_address=127.0.0.1\nconnect_from_port_20=NO\n"
         << "ssl_enable=YES\nrsa_cert_file=" << dir_.File("cert.pem")
         << "\nrsa_private_key_file=" << dir_.File("key.pem")
         << "\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
         << "allow_anon_ssl=NO\nssl_tlsv1=YES\nrequire_ssl_reuse=NO\n"
         << "implicit_ssl=" << (tls == Tls::Implicit ? "YES" : "NO") << "\n"
         << "xferlog_enable=YES\nlog_ftp_protocol=YES\nvsftpd_log_file=" << dir_.File("vsftpd.log") << "\n";
    dir_.Write("vsftpd.conf", conf.str());
    process_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"/usr/sbin/vsftpd", dir_.File("vsftpd.conf")}, dir_.File("stderr.log"));
    ready_ = process_->WaitForPort(port, 10000);
}

VsftpdServer::~VsftpdServer() = default;

std::string VsftpdServer::Log() const {
    return (dir_.Exists("vsftpd.log") ? dir_.Read("vsftpd.log") : "") +
           (dir_.Exists("stderr.log") ? dir_.Read("stderr.log") : "");
}

// --- sshd -----------------------------------------------------------------------------------

SftpServer::SftpServer(int port, const TestUser& user, HostKey key) : port_(port) {
    const std::string type = key == HostKey::RsaOnly ? "rsa -b 2048" : "ed25519";
    if (!user.Made() || !Run("ssh-keygen -q -t " + type + " -N '' -f '" + dir_.File("hostkey") + "'"))
        return;
    // "256 SHA256:… comment (ED25519)"
    std::istringstream line(ShellOutput("ssh-keygen -l -E sha256 -f '" + dir_.File("hostkey.pub") + "'"));
    std::string bits;
    line >> bits >> fingerprint_;
    ::mkdir("/run/sshd", 0755); // sshd's privilege separation directory
    std::ostringstream conf;
    conf << "Port " << port << "\nListenAddress 127.0.0.1\nHostKey " << dir_.File("hostkey")
         << "\nPidFile none\nUsePAM no\nPasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
         << "PubkeyAuthentication no\nPermitRootLogin no\nStrictModes no\nAuthorizedKeysFile none\n"
         << "AllowUsers " << user.Name() << "\nSubsystem sftp internal-sftp\nLogLevel DEBUG1\n";
    if (key == HostKey::RsaOnly)
        conf << "HostKeyAlgorithms rsa-sha2-512,rsa-sha2-256\n";
    dir_.Write("sshd_config", conf.str());
    process_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"/usr/sbin/sshd", "-D", "-e", "-f", dir_.File("sshd_config")},
        dir_.File("sshd.log"));
    ready_ = process_->WaitForPort(port, 10000);
}

SftpServer::~SftpServer() = default;

int SftpServer::Pid() const {
    return process_ ? process_->Pid() : -1;
}

std::string SftpServer::Log() const {
    return dir_.Exists("sshd.log") ? dir_.Read("sshd.log") : "";
}

// --- certificates ---------------------------------------------------------------------------

TestCertificates::TestCertificates(const TempDir& dir)
    : AuthorityFile(dir.File("ca.pem")), ServerCert(dir.File("server.pem")),
      ServerKey(dir.File("server.key")), SelfSignedCert(dir.File("self.pem")),
      SelfSignedKey(dir.File("self.key")) {
    const std::string ca = "'" + AuthorityFile + "'";
    const std::string caKey = "'" + dir.File("ca.key") + "'";
    dir.Write("ext.cnf", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    Made = Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + caKey + " -out " + ca +
               " -days 2 -subj '/CN=Pelorix Test CA'") &&
           Run("openssl req -newkey rsa:2048 -nodes -keyout '" + ServerKey + "' -out '" +
               dir.File("server.csr") + "' -subj /CN=127.0.0.1") &&
           Run("openssl x509 -req -in '" + dir.File("server.csr") + "' -CA " + ca + " -CAkey " + caKey +
               " -CAcreateserial -out '" + ServerCert + "' -days 2 -extfile '" + dir.File("ext.cnf") + "'") &&
           SelfSigned(SelfSignedCert, SelfSignedKey);
}

} // namespace pelorix::test
