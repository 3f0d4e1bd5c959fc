#include "platform/TlsChannel.h"

#include "platform/OpenSsl.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace pelorix {

namespace {

bool IsAddressLiteral(const std::string& host) {
    unsigned char bytes[16];
    return inet_pton(AF_INET, host.c_str(), bytes) == 1 || inet_pton(AF_INET6, host.c_str(), bytes) == 1;
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
    const OpenSslApi* api = nullptr;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    // Kept with the context, which calls it on every handshake (a renegotiation too).
    CertificateCheck check;
    bool checked = false;
    bool refused = false;
    ChainCheck handOver = [this](const std::vector<std::string>& chain) {
        checked = true;
        refused = !check(chain);
        return refused ? X509_V_ERR_APPLICATION_VERIFICATION : X509_V_OK;
    };
    ~Handles() {
        if (ssl != nullptr)
            api->ssl_free(ssl);
        if (ctx != nullptr)
            api->ctx_free(ctx);
    }
};

TlsChannel::TlsChannel(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

TlsChannel::~TlsChannel() = default;

std::unique_ptr<TlsChannel> TlsChannel::Start(int fd, const std::string& host, const CertificateCheck& check,
                                              TimePoint until, TlsStartResult& result) {
    result = TlsStartResult::Unavailable;
    const OpenSslApi* api = OpenSsl();
    if (api == nullptr)
        return nullptr;
    api->clear_error();
    auto handles = std::make_unique<Handles>();
    handles->api = api;
    handles->check = check;
    handles->ctx = api->ctx_new(api->client_method());
    result = TlsStartResult::Failed;
    if (handles->ctx == nullptr)
        return nullptr;
    api->ctx_ctrl(handles->ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    // A server that drops the connection without the closing alert simply ends the dialogue.
    api->ctx_set_options(handles->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    HandChainsTo(*api, handles->ctx, handles->handOver);
    handles->ssl = api->ssl_new(handles->ctx);
    if (handles->ssl == nullptr || api->set_fd(handles->ssl, fd) != 1)
        return nullptr;
    SSL* ssl = handles->ssl;
    if (!IsAddressLiteral(host))
        api->ssl_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                      const_cast<char*>(host.c_str()));

    for (;;) {
        const int done = api->connect(ssl);
        if (done == 1)
            break;
        const int error = api->get_error(ssl, done);
        if (!WantsIo(error)) {
            if (handles->refused)
                result = TlsStartResult::Untrusted;
            return nullptr;
        }
        const TcpResult waited = WaitForSsl(fd, error, until);
        if (waited != TcpResult::Ok) {
            result = waited == TcpResult::Timeout ? TlsStartResult::Timeout : TlsStartResult::Failed;
            return nullptr;
        }
    }

    // A server that presented no certificate at all was never checked, so never trusted.
    if (!handles->checked || handles->refused)
        return nullptr;
    result = TlsStartResult::Ok;
    return std::unique_ptr<TlsChannel>(new TlsChannel(std::move(handles)));
}

TcpResult TlsChannel::SendAll(int fd, std::string_view data, TimePoint until) {
    const OpenSslApi& api = *handles_->api;
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
    const OpenSslApi& api = *handles_->api;
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
