// The trust decision on certificates with the Windows certificate functions: chains made here
// with openssl get the verdicts, pins, fingerprints and names the Linux build gives them.

#include "ServerProcess.h"
#include "TempDir.h"
#include "net/Trust.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelorix {
namespace {

// A root authority, a certificate for "mail.test" and 127.0.0.1 it signed, a self-signed one,
// and what openssl prints of them; made once for all cases.
constexpr const char* kMake = R"(set -e
exec 2>make.log
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj '/CN=Trust Test Root' -keyout ca.key -out ca.pem \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -subj '/O=Pelorix Test/CN=mail.test' -keyout leaf.key -out leaf.csr
printf 'subjectAltName=DNS:mail.test,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' >leaf.ext
openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile leaf.ext -out leaf.pem
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj '/CN=mail.test' -addext subjectAltName=DNS:mail.test -keyout self.key -out self.pem
for c in leaf self; do
    openssl x509 -in $c.pem -outform DER -out $c.der
    openssl x509 -in $c.pem -pubkey -noout | openssl pkey -pubin -outform DER |
        openssl dgst -sha256 -binary | base64 | tr -d '\n' >$c.pin
    openssl x509 -in $c.pem -noout -fingerprint -sha256 | sed 's/^.*=//' | tr -d '\n' >$c.fingerprint
    openssl x509 -in $c.pem -noout -subject -nameopt RFC2253 | sed 's/^subject=//' | tr -d '\n' >$c.subject
done
touch done
)";

class TrustChainTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        test::ServerProcess make({"/bin/sh", "-c", kMake}, {}, dir_->Path());
        make.Wait(30000);
    }
    static void TearDownTestSuite() { delete dir_; }
    void SetUp() override { ASSERT_TRUE(dir_->Exists("done")) << dir_->Read("make.log"); }
    void TearDown() override { SetAuthorityFile({}); }

    static std::string Read(const std::string& name) { return dir_->Read(name); }
    static std::vector<std::string> Chain(const std::string& name) { return {Read(name + ".der")}; }

    static test::TempDir* dir_;
};

test::TempDir* TrustChainTest::dir_ = nullptr;

TEST_F(TrustChainTest, AChainOfAKnownAuthorityIsTrustedForItsNamesOnly) {
    SetAuthorityFile(dir_->File("ca.pem"));
    const TrustDecision named = CheckCertificateChain(Chain("leaf"), "mail.test", ParseTrust(""));
    EXPECT_EQ(named.Verdict, TrustVerdict::Authorities) << named.SystemReason;
    EXPECT_EQ(CheckCertificateChain(Chain("leaf"), "other.test", ParseTrust("")).Verdict,
              TrustVerdict::WrongHostName);
}

TEST_F(TrustChainTest, UnknownAuthoritiesAndSelfSignedCertificatesAreRefused) {
    EXPECT_EQ(CheckCertificateChain(Chain("leaf"), "mail.test", ParseTrust("")).Verdict,
              TrustVerdict::UnknownAuthority);
    EXPECT_EQ(CheckCertificateChain(Chain("self"), "mail.test", ParseTrust("")).Verdict,
              TrustVerdict::SelfSigned);
}

TEST_F(TrustChainTest, TheDescriptionMatchesWhatOpensslPrints) {
    const TrustDecision decision = CheckCertificateChain(Chain("leaf"), "mail.test", ParseTrust(""));
    EXPECT_EQ(decision.Certificate.Pin, "sha256//" + Read("leaf.pin"));
    EXPECT_EQ(decision.Certificate.Fingerprint, Read("leaf.fingerprint"));
    EXPECT_EQ(decision.Certificate.Subject, Read("leaf.subject"));
    EXPECT_EQ(decision.Certificate.Issuer, "CN=Trust Test Root");
    EXPECT_EQ(decision.Certificate.AltNames, (std::vector<std::string>{"DNS:mail.test", "IP:127.0.0.1"}));
    EXPECT_GT(decision.Certificate.NotAfter, decision.Certificate.NotBefore);
}

TEST_F(TrustChainTest, APinTrustsItsKeyAndNoOther) {
    const std::string pin = "sha256//" + Read("self.pin");
    EXPECT_EQ(CheckCertificateChain(Chain("self"), "mail.test", ParseTrust(pin)).Verdict,
              TrustVerdict::StoredPin);
    EXPECT_EQ(CheckCertificateChain(Chain("leaf"), "mail.test", ParseTrust(pin)).Verdict,
              TrustVerdict::PinMismatch);
}

} // namespace
} // namespace pelorix
