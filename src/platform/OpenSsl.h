#pragma once
// OpenSSL (libssl.so.3 and libcrypto.so.3), loaded at run time on the first use and kept loaded,
// as it cannot be unloaded. Only the helper processes that speak TLS or SSH ever call it: the
// mail helper, and the upload and address helpers, where libcurl has loaded the very same
// libraries already. The service itself never carries them. Only declarations and constants
// come from the headers; nothing links OpenSSL.
//
// Whatever speaks TLS through OpenSSL (the mail's own channel, libcurl) hands the peer's
// certificate chain to one check through HandChainsTo, so the decision on it is made in one
// place and not by each library on its own.

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <functional>
#include <string>
#include <vector>

namespace pelorix {

// The OpenSSL functions this system calls, resolved from the loaded libraries.
struct OpenSslApi {
    // The TLS channel.
    decltype(&::TLS_client_method) client_method;
    decltype(&::SSL_CTX_new) ctx_new;
    decltype(&::SSL_CTX_free) ctx_free;
    decltype(&::SSL_CTX_ctrl) ctx_ctrl;
    decltype(&::SSL_CTX_set_options) ctx_set_options;
    decltype(&::SSL_CTX_set_verify) ctx_set_verify;
    decltype(&::SSL_CTX_set_cert_verify_callback) ctx_set_cert_verify_callback;
    decltype(&::SSL_new) ssl_new;
    decltype(&::SSL_free) ssl_free;
    decltype(&::SSL_set_fd) set_fd;
    decltype(&::SSL_ctrl) ssl_ctrl;
    decltype(&::SSL_connect) connect;
    decltype(&::SSL_read) read;
    decltype(&::SSL_write) write;
    decltype(&::SSL_get_error) get_error;
    decltype(&::SSL_shutdown) shutdown;
    decltype(&::ERR_clear_error) clear_error;
    // The chain a peer presents.
    decltype(&::X509_STORE_CTX_get0_cert) store_ctx_get0_cert;
    decltype(&::X509_STORE_CTX_get0_untrusted) store_ctx_get0_untrusted;
    decltype(&::X509_STORE_CTX_set_error) store_ctx_set_error;
    decltype(&::OPENSSL_sk_num) sk_num;
    decltype(&::OPENSSL_sk_value) sk_value;
    decltype(&::i2d_X509) i2d_x509;
    // Reading and verifying certificates.
    decltype(&::d2i_X509) d2i_x509;
    decltype(&::X509_free) x509_free;
    decltype(&::X509_get_X509_PUBKEY) get_x509_pubkey;
    decltype(&::i2d_X509_PUBKEY) i2d_x509_pubkey;
    decltype(&::X509_get_subject_name) get_subject_name;
    decltype(&::X509_get_issuer_name) get_issuer_name;
    decltype(&::X509_NAME_print_ex) name_print_ex;
    decltype(&::BIO_s_mem) bio_s_mem;
    decltype(&::BIO_new) bio_new;
    decltype(&::BIO_ctrl) bio_ctrl;
    decltype(&::BIO_free) bio_free;
    decltype(&::X509_get0_notBefore) get0_not_before;
    decltype(&::X509_get0_notAfter) get0_not_after;
    decltype(&::ASN1_TIME_to_tm) asn1_time_to_tm;
    decltype(&::X509_get_ext_d2i) get_ext_d2i;
    decltype(&::GENERAL_NAMES_free) general_names_free;
    decltype(&::ASN1_STRING_get0_data) asn1_string_data;
    decltype(&::ASN1_STRING_length) asn1_string_length;
    decltype(&::X509_STORE_new) store_new;
    decltype(&::X509_STORE_free) store_free;
    decltype(&::X509_STORE_set_default_paths) store_default_paths;
    decltype(&::X509_STORE_load_file) store_load_file;
    decltype(&::X509_STORE_CTX_new) store_ctx_new;
    decltype(&::X509_STORE_CTX_free) store_ctx_free;
    decltype(&::X509_STORE_CTX_init) store_ctx_init;
    decltype(&::X509_STORE_CTX_set_default) store_ctx_set_default;
    decltype(&::X509_STORE_CTX_get0_param) store_ctx_get0_param;
    decltype(&::X509_STORE_CTX_get_error) store_ctx_get_error;
    decltype(&::X509_VERIFY_PARAM_set1_host) param_set1_host;
    decltype(&::X509_VERIFY_PARAM_set1_ip_asc) param_set1_ip_asc;
    decltype(&::X509_VERIFY_PARAM_set_flags) param_set_flags;
    decltype(&::X509_verify_cert) verify_cert;
    decltype(&::OPENSSL_sk_new_null) sk_new_null;
    decltype(&::OPENSSL_sk_push) sk_push;
    decltype(&::OPENSSL_sk_pop_free) sk_pop_free;
    decltype(&::EVP_sha256) sha256;
    decltype(&::EVP_Digest) digest;
};

// The loaded functions, or null when the libraries are not at hand.
const OpenSslApi* OpenSsl();

// Decides on the certificates a peer presented (DER, the peer's own first): X509_V_OK lets the
// handshake go on, any other verification error ends it with that error.
using ChainCheck = std::function<int(const std::vector<std::string>& chain)>;

// From now on every handshake on ctx hands the peer's chain to check instead of verifying it
// itself; check must outlive the connections made with ctx.
void HandChainsTo(const OpenSslApi& api, SSL_CTX* ctx, const ChainCheck& check);

} // namespace pelorix
