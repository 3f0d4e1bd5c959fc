#include "platform/OpenSsl.h"

#include <dlfcn.h>

#include <mutex>

namespace pelorix {

namespace {

// dlsym on libssl also finds what libcrypto, which libssl depends on, defines.
template <typename F> bool Resolve(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

bool LoadApi(OpenSslApi& a) {
    // Loaded once and never closed: OpenSSL marks itself never to be unloaded anyway. Where
    // libcurl is loaded these are the libraries it uses, not a second copy.
    void* crypto = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    void* l = dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL);
    if (crypto == nullptr || l == nullptr)
        return false;
    return Resolve(l, "TLS_client_method", a.client_method) && Resolve(l, "SSL_CTX_new", a.ctx_new) &&
           Resolve(l, "SSL_CTX_free", a.ctx_free) && Resolve(l, "SSL_CTX_ctrl", a.ctx_ctrl) &&
           Resolve(l, "SSL_CTX_set_options", a.ctx_set_options) &&
           Resolve(l, "SSL_CTX_set_verify", a.ctx_set_verify) &&
           Resolve(l, "SSL_CTX_set_cert_verify_callback", a.ctx_set_cert_verify_callback) &&
           Resolve(l, "SSL_new", a.ssl_new) && Resolve(l, "SSL_free", a.ssl_free) &&
           Resolve(l, "SSL_set_fd", a.set_fd) && Resolve(l, "SSL_ctrl", a.ssl_ctrl) &&
           Resolve(l, "SSL_connect", a.connect) && Resolve(l, "SSL_read", a.read) &&
           Resolve(l, "SSL_write", a.write) && Resolve(l, "SSL_get_error", a.get_error) &&
           Resolve(l, "SSL_shutdown", a.shutdown) && Resolve(l, "ERR_clear_error", a.clear_error) &&
           Resolve(l, "X509_STORE_CTX_get0_cert", a.store_ctx_get0_cert) &&
           Resolve(l, "X509_STORE_CTX_get0_untrusted", a.store_ctx_get0_untrusted) &&
           Resolve(l, "X509_STORE_CTX_set_error", a.store_ctx_set_error) &&
           Resolve(l, "OPENSSL_sk_num", a.sk_num) && Resolve(l, "OPENSSL_sk_value", a.sk_value) &&
           Resolve(l, "i2d_X509", a.i2d_x509) && Resolve(l, "d2i_X509", a.d2i_x509) &&
           Resolve(l, "X509_free", a.x509_free) && Resolve(l, "X509_get_X509_PUBKEY", a.get_x509_pubkey) &&
           Resolve(l, "i2d_X509_PUBKEY", a.i2d_x509_pubkey) &&
           Resolve(l, "X509_get_subject_name", a.get_subject_name) &&
           Resolve(l, "X509_get_issuer_name", a.get_issuer_name) &&
           Resolve(l, "X509_NAME_print_ex", a.name_print_ex) && Resolve(l, "BIO_s_mem", a.bio_s_mem) &&
           Resolve(l, "BIO_new", a.bio_new) && Resolve(l, "BIO_ctrl", a.bio_ctrl) &&
           Resolve(l, "BIO_free", a.bio_free) && Resolve(l, "X509_get0_notBefore", a.get0_not_before) &&
           Resolve(l, "X509_get0_notAfter", a.get0_not_after) &&
           Resolve(l, "ASN1_TIME_to_tm", a.asn1_time_to_tm) &&
           Resolve(l, "X509_get_ext_d2i", a.get_ext_d2i) &&
           Resolve(l, "GENERAL_NAMES_free", a.general_names_free) &&
           Resolve(l, "ASN1_STRING_get0_data", a.asn1_string_data) &&
           Resolve(l, "ASN1_STRING_length", a.asn1_string_length) &&
           Resolve(l, "X509_STORE_new", a.store_new) && Resolve(l, "X509_STORE_free", a.store_free) &&
           Resolve(l, "X509_STORE_set_default_paths", a.store_default_paths) &&
           Resolve(l, "X509_STORE_load_file", a.store_load_file) &&
           Resolve(l, "X509_STORE_CTX_new", a.store_ctx_new) &&
           Resolve(l, "X509_STORE_CTX_free", a.store_ctx_free) &&
           Resolve(l, "X509_STORE_CTX_init", a.store_ctx_init) &&
           Resolve(l, "X509_STORE_CTX_set_default", a.store_ctx_set_default) &&
           Resolve(l, "X509_STORE_CTX_get0_param", a.store_ctx_get0_param) &&
           Resolve(l, "X509_STORE_CTX_get_error", a.store_ctx_get_error) &&
           Resolve(l, "X509_VERIFY_PARAM_set1_host", a.param_set1_host) &&
           Resolve(l, "X509_VERIFY_PARAM_set1_ip_asc", a.param_set1_ip_asc) &&
           Resolve(l, "X509_VERIFY_PARAM_set_flags", a.param_set_flags) &&
           Resolve(l, "X509_verify_cert", a.verify_cert) &&
           Resolve(l, "OPENSSL_sk_new_null", a.sk_new_null) && Resolve(l, "OPENSSL_sk_push", a.sk_push) &&
           Resolve(l, "OPENSSL_sk_pop_free", a.sk_pop_free) && Resolve(l, "EVP_sha256", a.sha256) &&
           Resolve(l, "EVP_Digest", a.digest);
}

std::string Der(const OpenSslApi& api, X509* certificate) {
    const int length = api.i2d_x509(certificate, nullptr);
    if (length <= 0)
        return {};
    std::string der(static_cast<std::size_t>(length), '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    return api.i2d_x509(certificate, &out) == length ? der : std::string();
}

// The certificates as the peer sent them; OpenSSL's untrusted list starts with the peer's own.
std::vector<std::string> PresentedChain(const OpenSslApi& api, X509_STORE_CTX* store) {
    std::vector<std::string> chain;
    const auto* sent = reinterpret_cast<const OPENSSL_STACK*>(api.store_ctx_get0_untrusted(store));
    const int count = sent != nullptr ? api.sk_num(sent) : 0;
    for (int i = 0; i < count; ++i)
        chain.push_back(Der(api, static_cast<X509*>(api.sk_value(sent, i))));
    if (chain.empty())
        chain.push_back(Der(api, api.store_ctx_get0_cert(store)));
    return chain;
}

int VerifyByCheck(X509_STORE_CTX* store, void* check) {
    const OpenSslApi& api = *OpenSsl(); // loaded: HandChainsTo was given it
    const std::vector<std::string> chain = PresentedChain(api, store);
    const int error =
        chain.front().empty() ? X509_V_ERR_UNSPECIFIED : (*static_cast<const ChainCheck*>(check))(chain);
    api.store_ctx_set_error(store, error);
    return error == X509_V_OK ? 1 : 0;
}

} // namespace

const OpenSslApi* OpenSsl() {
    static OpenSslApi api{};
    static bool loaded = false;
    static std::once_flag once;
    std::call_once(once, [] { loaded = LoadApi(api); });
    return loaded ? &api : nullptr;
}

void HandChainsTo(const OpenSslApi& api, SSL_CTX* ctx, const ChainCheck& check) {
    // A refused chain ends the handshake, before one byte of application data goes out.
    api.ctx_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    api.ctx_set_cert_verify_callback(ctx, &VerifyByCheck, const_cast<ChainCheck*>(&check));
}

} // namespace pelorix
