// Reading and verifying certificates with OpenSSL, loaded at run time (see platform/OpenSsl.h):
// this runs only in the helpers that speak TLS or SSH, where the libraries are loaded already.
#include "net/TrustSystem.h"

#include "base/Latin1.h"
#include "platform/OpenSsl.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <ctime>

namespace pelorix::trust {

namespace {

// The decoded chain, the server's own certificate first; OpenSSL's own list, so it can be
// handed to the verification as the certificates the server sent.
class DecodedChain {
public:
    DecodedChain(const OpenSslApi& api, const std::vector<std::string>& chain) : api_(api) {
        stack_ = api.sk_new_null();
        for (const std::string& der : chain) {
            const auto* in = reinterpret_cast<const unsigned char*>(der.data());
            X509* certificate = api.d2i_x509(nullptr, &in, static_cast<long>(der.size()));
            if (certificate == nullptr || stack_ == nullptr || api.sk_push(stack_, certificate) <= 0) {
                api.x509_free(certificate);
                complete_ = false;
                break;
            }
        }
    }
    ~DecodedChain() {
        if (stack_ != nullptr)
            api_.sk_pop_free(stack_, reinterpret_cast<OPENSSL_sk_freefunc>(api_.x509_free));
    }
    DecodedChain(const DecodedChain&) = delete;
    DecodedChain& operator=(const DecodedChain&) = delete;

    X509* First() const {
        return complete_ && stack_ != nullptr && api_.sk_num(stack_) > 0
                   ? static_cast<X509*>(api_.sk_value(stack_, 0))
                   : nullptr;
    }
    STACK_OF(X509) * Stack() const { return reinterpret_cast<STACK_OF(X509)*>(stack_); }

private:
    const OpenSslApi& api_;
    OPENSSL_STACK* stack_ = nullptr;
    bool complete_ = true;
};

std::string NameText(const OpenSslApi& api, const X509_NAME* name) {
    BIO* bio = api.bio_new(api.bio_s_mem());
    if (bio == nullptr)
        return {};
    // RFC 2253 order and escapes, but characters beyond ASCII kept as UTF-8.
    api.name_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = api.bio_ctrl(bio, BIO_CTRL_INFO, 0, &data);
    std::string text =
        length > 0 && data != nullptr ? std::string(data, static_cast<std::size_t>(length)) : "";
    api.bio_free(bio);
    return Utf8ToLatin1(text);
}

std::int64_t Seconds(const OpenSslApi& api, const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || api.asn1_time_to_tm(time, &parts) != 1)
        return 0;
    return static_cast<std::int64_t>(timegm(&parts));
}

std::string StringOf(const OpenSslApi& api, const ASN1_STRING* text) {
    return std::string(reinterpret_cast<const char*>(api.asn1_string_data(text)),
                       static_cast<std::size_t>(api.asn1_string_length(text)));
}

std::vector<std::string> AltNames(const OpenSslApi& api, X509* certificate) {
    std::vector<std::string> names;
    auto* general =
        static_cast<GENERAL_NAMES*>(api.get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    if (general == nullptr)
        return names;
    const auto* stack = reinterpret_cast<const OPENSSL_STACK*>(general);
    for (int i = 0; i < api.sk_num(stack); ++i) {
        const auto* name = static_cast<const GENERAL_NAME*>(api.sk_value(stack, i));
        if (name->type == GEN_DNS) {
            names.push_back("DNS:" + Utf8ToLatin1(StringOf(api, name->d.dNSName)));
        } else if (name->type == GEN_IPADD) {
            const std::string bytes = StringOf(api, name->d.iPAddress);
            char text[INET6_ADDRSTRLEN] = {};
            const int family = bytes.size() == 4 ? AF_INET : bytes.size() == 16 ? AF_INET6 : AF_UNSPEC;
            if (family != AF_UNSPEC && inet_ntop(family, bytes.data(), text, sizeof text) != nullptr)
                names.push_back(std::string("IP:") + text);
        }
    }
    api.general_names_free(general);
    return names;
}

std::string PublicKeyDer(const OpenSslApi& api, X509* certificate) {
    X509_PUBKEY* key = api.get_x509_pubkey(certificate);
    const int length = key != nullptr ? api.i2d_x509_pubkey(key, nullptr) : 0;
    if (length <= 0)
        return {};
    std::string der(static_cast<std::size_t>(length), '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    return api.i2d_x509_pubkey(key, &out) == length ? der : std::string();
}

TrustVerdict VerdictOf(long error) {
    switch (error) {
    case X509_V_OK:
        return TrustVerdict::Authorities;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return TrustVerdict::SelfSigned;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
        return TrustVerdict::UnknownAuthority;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TrustVerdict::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TrustVerdict::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TrustVerdict::WrongHostName;
    default:
        return TrustVerdict::Unverifiable;
    }
}

// As a TLS client verifies a server: purpose "SSL server", the name or address checked as part
// of the chain; like libcurl, an authority in the store need not be a root.
long VerifyChain(const OpenSslApi& api, const DecodedChain& chain, const std::string& host) {
    X509_STORE* store = api.store_new();
    X509_STORE_CTX* context = api.store_ctx_new();
    long error = X509_V_ERR_UNSPECIFIED;
    const std::string bundle = AuthorityFile();
    if (store != nullptr && context != nullptr && !host.empty() &&
        (bundle.empty() ? api.store_default_paths(store) : api.store_load_file(store, bundle.c_str())) == 1 &&
        api.store_ctx_init(context, store, chain.First(), chain.Stack()) == 1 &&
        api.store_ctx_set_default(context, "ssl_server") == 1) {
        X509_VERIFY_PARAM* param = api.store_ctx_get0_param(context);
        api.param_set_flags(param, X509_V_FLAG_PARTIAL_CHAIN);
        // Not an address literal: then it is a name.
        if (api.param_set1_ip_asc(param, host.c_str()) == 1 ||
            api.param_set1_host(param, host.c_str(), 0) == 1)
            error = api.verify_cert(context) == 1 ? X509_V_OK : api.store_ctx_get_error(context);
    }
    if (context != nullptr)
        api.store_ctx_free(context);
    if (store != nullptr)
        api.store_free(store);
    return error;
}

} // namespace

ChainReading ReadChain(const std::vector<std::string>& chain, const std::string& host, bool verify) {
    ChainReading reading;
    const OpenSslApi* api = OpenSsl();
    if (api == nullptr || chain.empty())
        return reading;
    const DecodedChain decoded(*api, chain);
    X509* certificate = decoded.First();
    if (certificate == nullptr)
        return reading;
    reading.PublicKeyDer = PublicKeyDer(*api, certificate);
    reading.Readable = !reading.PublicKeyDer.empty();
    CertificateDescription& description = reading.Certificate;
    description.Subject = NameText(*api, api->get_subject_name(certificate));
    description.Issuer = NameText(*api, api->get_issuer_name(certificate));
    description.AltNames = AltNames(*api, certificate);
    description.NotBefore = Seconds(*api, api->get0_not_before(certificate));
    description.NotAfter = Seconds(*api, api->get0_not_after(certificate));
    if (verify) {
        reading.SystemReason = VerifyChain(*api, decoded, host);
        reading.Verdict = VerdictOf(reading.SystemReason);
    }
    return reading;
}

std::string Sha256(std::string_view data) {
    const OpenSslApi* api = OpenSsl();
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (api == nullptr || api->digest(data.data(), data.size(), hash, &length, api->sha256(), nullptr) != 1)
        return {};
    return std::string(reinterpret_cast<const char*>(hash), length);
}

} // namespace pelorix::trust
