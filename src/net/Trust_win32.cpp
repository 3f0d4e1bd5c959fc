// Reading and verifying certificates with the Windows certificate functions (crypt32) and
// hashing with BCrypt: the chain is checked against the system's certificate store, or against
// a bundle a test names, with the SSL server policy for the host.
#include "net/TrustSystem.h"

#include "base/Latin1.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h: windows.h would otherwise pull in the old winsock.h.
#include <bcrypt.h>
#include <wincrypt.h>
#include <windows.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace pelorix::trust {

namespace {

struct CertificateFree {
    void operator()(const CERT_CONTEXT* certificate) const { ::CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct StoreClose {
    void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreClose>;

struct ChainFree {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { ::CertFreeCertificateChain(chain); }
};
using ChainContext = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

struct EngineFree {
    void operator()(HCERTCHAINENGINE engine) const { ::CertFreeCertificateChainEngine(engine); }
};
using Engine = std::unique_ptr<std::remove_pointer_t<HCERTCHAINENGINE>, EngineFree>;

struct LocalMemoryFree {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

std::string Utf16ToUtf8(const wchar_t* text, int length) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

Certificate Decode(const std::string& der) {
    return Certificate(::CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
}

// RFC 2253 order, the most specific part first, parts joined by a bare comma as OpenSSL
// prints them; Windows separates by "; " and quotes values that hold a separator.
std::string NameText(const CERT_NAME_BLOB& name) {
    CERT_NAME_BLOB blob = name;
    const DWORD flags = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG | CERT_NAME_STR_SEMICOLON_FLAG;
    const DWORD size = ::CertNameToStrW(X509_ASN_ENCODING, &blob, flags, nullptr, 0);
    if (size <= 1)
        return {};
    std::wstring text(size, L'\0');
    ::CertNameToStrW(X509_ASN_ENCODING, &blob, flags, text.data(), size);
    text.resize(size - 1);
    std::wstring joined;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'"')
            quoted = !quoted;
        if (!quoted && text[i] == L';' && i + 1 < text.size() && text[i + 1] == L' ') {
            joined += L',';
            ++i;
            continue;
        }
        joined += text[i];
    }
    return Utf8ToLatin1(Utf16ToUtf8(joined.data(), static_cast<int>(joined.size())));
}

std::int64_t Seconds(const FILETIME& time) {
    // FILETIME counts 100 ns steps since 1601.
    constexpr std::int64_t kUnixEpoch = 116444736000000000;
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (ticks - kUnixEpoch) / 10000000;
}

std::string AddressText(const CRYPT_DATA_BLOB& bytes) {
    char text[INET6_ADDRSTRLEN] = {};
    const int family = bytes.cbData == 4 ? AF_INET : bytes.cbData == 16 ? AF_INET6 : AF_UNSPEC;
    if (family == AF_UNSPEC || ::inet_ntop(family, bytes.pbData, text, sizeof text) == nullptr)
        return {};
    return text;
}

std::vector<std::string> AltNames(const CERT_INFO& info) {
    std::vector<std::string> names;
    const CERT_EXTENSION* extension =
        ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
    CERT_ALT_NAME_INFO* decoded = nullptr;
    DWORD size = 0;
    if (extension == nullptr ||
        !::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
        return names;
    const std::unique_ptr<void, LocalMemoryFree> hold(decoded);
    for (DWORD i = 0; i < decoded->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = decoded->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
            names.push_back("DNS:" + Utf8ToLatin1(Utf16ToUtf8(
                                         entry.pwszDNSName, static_cast<int>(::wcslen(entry.pwszDNSName)))));
        } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
            const std::string address = AddressText(entry.IPAddress);
            if (!address.empty())
                names.push_back("IP:" + address);
        }
    }
    return names;
}

std::string PublicKeyDer(const CERT_INFO& info) {
    BYTE* encoded = nullptr;
    DWORD size = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info.SubjectPublicKeyInfo,
                               CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &size))
        return {};
    const std::unique_ptr<void, LocalMemoryFree> hold(encoded);
    return std::string(reinterpret_cast<const char*>(encoded), size);
}

// The authorities of a bundle a test names (PEM): an engine that trusts only them.
Engine EngineFor(const std::string& bundle, Store& roots) {
    std::ifstream in(bundle, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string pem = text.str();
    roots.reset(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    for (std::size_t at = pem.find(kBegin); roots && at != std::string::npos; at = pem.find(kBegin, at + 1)) {
        const std::size_t end = pem.find(kEnd, at);
        if (end == std::string::npos)
            break;
        const std::string block = pem.substr(at, end + kEnd.size() - at);
        DWORD size = 0;
        if (!::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                                    CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
            continue;
        std::string der(size, '\0');
        if (::CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                   reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
            ::CertAddEncodedCertificateToStore(roots.get(), X509_ASN_ENCODING,
                                               reinterpret_cast<const BYTE*>(der.data()), size,
                                               CERT_STORE_ADD_ALWAYS, nullptr);
    }
    if (!roots)
        return nullptr;
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof config;
    config.hExclusiveRoot = roots.get();
    HCERTCHAINENGINE engine = nullptr;
    return ::CertCreateCertificateChainEngine(&config, &engine) ? Engine(engine) : nullptr;
}

TrustVerdict VerdictOf(long error, const CERT_CHAIN_CONTEXT& chain, const CERT_INFO& leaf) {
    switch (static_cast<HRESULT>(error)) {
    case S_OK:
        return TrustVerdict::Authorities;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_UNTRUSTEDTESTROOT:
    case CERT_E_CHAINING:
    case TRUST_E_CERT_SIGNATURE:
        if (chain.cChain > 0 && chain.rgpChain[0]->cElement > 0) {
            const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[0];
            const CERT_CHAIN_ELEMENT& root = *simple.rgpElement[simple.cElement - 1];
            if ((root.TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0 &&
                (root.TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID) == 0)
                return TrustVerdict::SelfSigned;
        }
        return static_cast<HRESULT>(error) == TRUST_E_CERT_SIGNATURE ? TrustVerdict::Unverifiable
                                                                     : TrustVerdict::UnknownAuthority;
    case CERT_E_EXPIRED: {
        FILETIME now;
        ::GetSystemTimeAsFileTime(&now);
        return ::CompareFileTime(&now, &leaf.NotBefore) < 0 ? TrustVerdict::NotYetValid
                                                            : TrustVerdict::Expired;
    }
    case CERT_E_CN_NO_MATCH:
        return TrustVerdict::WrongHostName;
    default:
        return TrustVerdict::Unverifiable;
    }
}

// The chain's own faults. The SSL policy reports them on Windows; Wine's passes a chain that
// ends at an unknown authority, so they are read here as well.
long ChainError(const CERT_CHAIN_CONTEXT& chain) {
    const DWORD status = chain.TrustStatus.dwErrorStatus;
    if ((status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0)
        return static_cast<long>(TRUST_E_CERT_SIGNATURE);
    if ((status & CERT_TRUST_IS_UNTRUSTED_ROOT) != 0)
        return static_cast<long>(CERT_E_UNTRUSTEDROOT);
    if ((status & CERT_TRUST_IS_PARTIAL_CHAIN) != 0)
        return static_cast<long>(CERT_E_CHAINING);
    if ((status & CERT_TRUST_IS_NOT_TIME_VALID) != 0)
        return static_cast<long>(CERT_E_EXPIRED);
    if ((status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) != 0)
        return static_cast<long>(CERT_E_WRONG_USAGE);
    return 0;
}

// As a TLS client verifies a server: the chain the server sent, the SSL server policy for the
// host name or address.
long VerifyChain(const std::vector<std::string>& chain, const Certificate& leaf, const std::string& host,
                 TrustVerdict& verdict) {
    verdict = TrustVerdict::Unverifiable;
    const Store sent(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!sent || host.empty())
        return static_cast<long>(E_FAIL);
    for (std::size_t i = 1; i < chain.size(); ++i)
        ::CertAddEncodedCertificateToStore(
            sent.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(chain[i].data()),
            static_cast<DWORD>(chain[i].size()), CERT_STORE_ADD_ALWAYS, nullptr);
    Store roots;
    Engine engine;
    const std::string bundle = AuthorityFile();
    if (!bundle.empty() && !(engine = EngineFor(bundle, roots)))
        return static_cast<long>(E_FAIL);
    LPSTR usage[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usage;
    const CERT_CHAIN_CONTEXT* built = nullptr;
    if (!::CertGetCertificateChain(engine.get(), leaf.get(), nullptr, sent.get(), &para, 0, nullptr, &built))
        return static_cast<long>(::GetLastError());
    const ChainContext hold(built);
    std::wstring wide_host(host.begin(), host.end());
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = wide_host.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, built, &policy, &status))
        return static_cast<long>(E_FAIL);
    const long error = status.dwError != 0 ? static_cast<long>(status.dwError) : ChainError(*built);
    verdict = VerdictOf(error, *built, *leaf->pCertInfo);
    return error;
}

} // namespace

ChainReading ReadChain(const std::vector<std::string>& chain, const std::string& host, bool verify) {
    ChainReading reading;
    if (chain.empty())
        return reading;
    const Certificate leaf = Decode(chain.front());
    if (!leaf)
        return reading;
    const CERT_INFO& info = *leaf->pCertInfo;
    reading.PublicKeyDer = PublicKeyDer(info);
    reading.Readable = !reading.PublicKeyDer.empty();
    CertificateDescription& description = reading.Certificate;
    description.Subject = NameText(info.Subject);
    description.Issuer = NameText(info.Issuer);
    description.AltNames = AltNames(info);
    description.NotBefore = Seconds(info.NotBefore);
    description.NotAfter = Seconds(info.NotAfter);
    if (verify)
        reading.SystemReason = VerifyChain(chain, leaf, host, reading.Verdict);
    return reading;
}

std::string Sha256(std::string_view data) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return {};
    std::string hash(32, '\0');
    BCRYPT_HASH_HANDLE handle = nullptr;
    bool done = BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &handle, nullptr, 0, nullptr, 0, 0));
    done = done &&
           BCRYPT_SUCCESS(::BCryptHashData(handle, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                           static_cast<ULONG>(data.size()), 0));
    done = done && BCRYPT_SUCCESS(::BCryptFinishHash(handle, reinterpret_cast<PUCHAR>(hash.data()),
                                                     static_cast<ULONG>(hash.size()), 0));
    if (handle != nullptr)
        ::BCryptDestroyHash(handle);
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return done ? hash : std::string();
}

} // namespace pelorix::trust
