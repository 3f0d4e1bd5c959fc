#include "platform/TlsChannel.h"

// Only the declarations and constants are taken from the headers; the functions come from the
// libraries loaded at run time, so nothing links OpenSSL.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>
#include <vector>

namespace pelorix {

namespace {

// The OpenSSL functions the channel calls, resolved from the loaded libraries.
struct SslApi {
    decltype(&::TLS_client_method) client_method;
    decltype(&::SSL_CTX_new) ctx_new;
    decltype(&::SSL_CTX_free) ctx_free;
    decltype(&::SSL_CTX_set_default_verify_paths) ctx_default_paths;
    decltype(&::SSL_CTX_ctrl) ctx_ctrl;
    decltype(&::SSL_CTX_set_options) ctx_set_options;
    decltype(&::SSL_new) ssl_new;
    decltype(&::SSL_free) ssl_free;
    decltype(&::SSL_set_fd) set_fd;
    decltype(&::SSL_ctrl) ssl_ctrl;
    decltype(&::SSL_set1_host) set1_host;
    decltype(&::SSL_get0_param) get0_param;
    decltype(&::SSL_connect) connect;
    decltype(&::SSL_read) read;
    decltype(&::SSL_write) write;
    decltype(&::SSL_get_error) get_error;
    decltype(&::SSL_shutdown) shutdown;
    decltype(&::SSL_get_verify_result) verify_result;
    decltype(&::SSL_get1_peer_certificate) peer_certificate;
    decltype(&::X509_free) x509_free;
    decltype(&::X509_get0_pubkey) get0_pubkey;
    decltype(&::i2d_PUBKEY) i2d_pubkey;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_Digest) digest;
    decltype(&::EVP_EncodeBlock) encode_block;
    decltype(&::X509_VERIFY_PARAM_set1_ip_asc) set1_ip_asc;
    decltype(&::ERR_clear_error) clear_error;
};

template <typename F> bool Resolve(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

bool LoadApi(SslApi& api) {
    // Loaded once and never closed: OpenSSL marks itself never to be unloaded anyway.
    void* crypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    void* ssl = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
    if (crypto == nullptr || ssl == nullptr)
        return false;
    return Resolve(ssl, "TLS_client_method", api.client_method) && Resolve(ssl, "SSL_CTX_new", api.ctx_new) &&
           Resolve(ssl, "SSL_CTX_free", api.ctx_free) &&
           Resolve(ssl, "SSL_CTX_set_default_verify_paths", api.ctx_default_paths) &&
           Resolve(ssl, "SSL_CTX_ctrl", api.ctx_ctrl) &&
           Resolve(ssl, "SSL_CTX_set_options", api.ctx_set_options) && Resolve(ssl, "SSL_new", api.ssl_new) &&
           Resolve(ssl, "SSL_free", api.ssl_free) && Resolve(ssl, "SSL_set_fd", api.set_fd) &&
           Resolve(ssl, "SSL_ctrl", api.ssl_ctrl) && Resolve(ssl, "SSL_set1_host", api.set1_host) &&
           Resolve(ssl, "SSL_get0_param", api.get0_param) && Resolve(ssl, "SSL_connect", api.connect) &&
           Resolve(ssl, "SSL_read", api.read) && Resolve(ssl, "SSL_write", api.write) &&
           Resolve(ssl, "SSL_get_error", api.get_error) && Resolve(ssl, "SSL_shutdown", api.shutdown) &&
           Resolve(ssl, "SSL_get_verify_result", api.verify_result) &&
           Resolve(ssl, "SSL_get1_peer_certificate", api.peer_certificate) &&
           Resolve(crypto, "X509_free", api.x509_free) &&
           Resolve(crypto, "X509_get0_pubkey", api.get0_pubkey) &&
           Resolve(crypto, "i2d_PUBKEY", api.i2d_pubkey) && Resolve(crypto, "EVP_sha256", api.sha256) &&
           Resolve(crypto, "EVP_Digest", api.digest) &&
           Resolve(crypto, "EVP_EncodeBlock", api.encode_block) &&
           Resolve(crypto, "X509_VERIFY_PARAM_set1_ip_asc", api.set1_ip_asc) &&
           Resolve(crypto, "ERR_clear_error", api.clear_error);
}

const SslApi* Api() {
    static SslApi api{};
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] { loaded = LoadApi(api); });
    return loaded ? &api : nullptr;
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

// "sha256//" and the base64 of the SHA-256 of the certificate's public key in DER.
std::string PublicKeyPin(const SslApi& api, X509* certificate) {
    EVP_PKEY* key = api.get0_pubkey(certificate);
    if (key == nullptr)
        return {};
    const int length = api.i2d_pubkey(key, nullptr);
    if (length <= 0)
        return {};
    std::vector<unsigned char> der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (api.i2d_pubkey(key, &out) != length)
        return {};
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int hashLength = 0;
    if (api.digest(der.data(), der.size(), hash, &hashLength, api.sha256(), nullptr) != 1)
        return {};
    unsigned char text[EVP_MAX_MD_SIZE * 2];
    const int textLength = api.encode_block(text, hash, static_cast<int>(hashLength));
    return "sha256//" +
           std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(textLength));
}

// Waits for what OpenSSL asked for; Ok when the socket is ready.
TcpResult WaitForSsl(int fd, int sslError, TlsChannel::TimePoint until) {
    pollfd p{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    for (;;) {
        const int left = until.Cap(-1);
        if (left <= 0)
            return TcpResult::Timeout;
        const int n = poll(&p, 1, left);
        if (n > 0)
            return TcpResult::Ok;
        if (n == 0)
            return TcpResult::Timeout;
        if (errno != EINTR)
            return TcpResult::Failed;
    }
}

bool WantsIo(int sslError) {
    return sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE;
}

} // namespace

struct TlsChannel::Handles {
    const SslApi* api = nullptr;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    ~Handles() {
        if (ssl != nullptr)
            api->ssl_free(ssl);
        if (ctx != nullptr)
            api->ctx_free(ctx);
    }
};

TlsChannel::TlsChannel(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

TlsChannel::~TlsChannel() = default;

std::unique_ptr<TlsChannel> TlsChannel::Start(int fd, const std::string& host, const std::string& pin,
                                              TimePoint until, TlsStartResult& result, std::string& seenPin) {
    seenPin.clear();
    result = TlsStartResult::Unavailable;
    const SslApi* api = Api();
    if (api == nullptr)
        return nullptr;
    api->clear_error();
    auto handles = std::make_unique<Handles>();
    handles->api = api;
    handles->ctx = api->ctx_new(api->client_method());
    result = TlsStartResult::Failed;
    if (handles->ctx == nullptr)
        return nullptr;
    api->ctx_ctrl(handles->ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    // A server that drops the connection without the closing alert simply ends the dialogue.
    api->ctx_set_options(handles->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (pin.empty() && api->ctx_default_paths(handles->ctx) != 1)
        return nullptr;
    handles->ssl = api->ssl_new(handles->ctx);
    if (handles->ssl == nullptr || api->set_fd(handles->ssl, fd) != 1)
        return nullptr;
    SSL* ssl = handles->ssl;
    const bool literal = IsAddressLiteral(host);
    if (!literal)
        api->ssl_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                      const_cast<char*>(host.c_str()));
    // The name (or address) the chain must be issued for; checked as part of the chain.
    if (pin.empty()) {
        const int named = literal ? api->set1_ip_asc(api->get0_param(ssl), host.c_str())
                                  : api->set1_host(ssl, host.c_str());
        if (named != 1)
            return nullptr;
    }

    // The handshake does not stop at a bad chain by itself; the outcome is checked below, before
    // anything is sent, so a refusal can name the key the server showed.
    for (;;) {
        const int done = api->connect(ssl);
        if (done == 1)
            break;
        const int error = api->get_error(ssl, done);
        if (!WantsIo(error))
            return nullptr;
        const TcpResult waited = WaitForSsl(fd, error, until);
        if (waited != TcpResult::Ok) {
            result = waited == TcpResult::Timeout ? TlsStartResult::Timeout : TlsStartResult::Failed;
            return nullptr;
        }
    }

    X509* certificate = api->peer_certificate(ssl);
    if (certificate == nullptr)
        return nullptr;
    seenPin = PublicKeyPin(*api, certificate);
    api->x509_free(certificate);
    const bool trusted =
        pin.empty() ? api->verify_result(ssl) == X509_V_OK : !seenPin.empty() && seenPin == pin;
    if (!trusted) {
        result = TlsStartResult::Untrusted;
        return nullptr;
    }
    result = TlsStartResult::Ok;
    return std::unique_ptr<TlsChannel>(new TlsChannel(std::move(handles)));
}

TcpResult TlsChannel::SendAll(int fd, std::string_view data, TimePoint until) {
    const SslApi& api = *handles_->api;
    std::size_t sent = 0;
    while (sent < data.size()) {
        const std::size_t piece = std::min<std::size_t>(data.size() - sent, INT_MAX);
        const int n = api.write(handles_->ssl, data.data() + sent, static_cast<int>(piece));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        const int error = api.get_error(handles_->ssl, n);
        if (!WantsIo(error))
            return TcpResult::Failed;
        const TcpResult waited = WaitForSsl(fd, error, until);
        if (waited != TcpResult::Ok)
            return waited;
    }
    return TcpResult::Ok;
}

TcpResult TlsChannel::Receive(int fd, char* buffer, std::size_t size, TimePoint until,
                              std::size_t& received) {
    const SslApi& api = *handles_->api;
    received = 0;
    for (;;) {
        const int n = api.read(handles_->ssl, buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)));
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return TcpResult::Ok;
        }
        const int error = api.get_error(handles_->ssl, n);
        if (error == SSL_ERROR_ZERO_RETURN)
            return TcpResult::Closed;
        if (!WantsIo(error))
            return TcpResult::Failed;
        const TcpResult waited = WaitForSsl(fd, error, until);
        if (waited != TcpResult::Ok)
            return waited;
    }
}

void TlsChannel::Shutdown() {
    handles_->api->shutdown(handles_->ssl);
}

} // namespace pelorix
