// The trust decision on certificates and SSH host keys made here with openssl and ssh-keygen:
// each kind of chain gets its verdict, and what is described matches what the tools print.

#include "SecureServers.h"
#include "TempDir.h"
#include "base/Base64.h"
#include "base/Latin1.h"
#include "net/Trust.h"
#include "net/TrustText.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <string>
#include <vector>

namespace pelorix {
namespace {

using test::ShellOutput;
using Chain = std::vector<std::string>;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// A root authority, an intermediate it signed, and certificates for "mail.test" and 127.0.0.1;
// made once for all cases.
class Certificates : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new test::TempDir;
        made_ = MakeAuthorities();
    }
    static void TearDownTestSuite() { delete dir_; }
    void SetUp() override { ASSERT_TRUE(made_); }
    void TearDown() override { SetAuthorityFile({}); }

    static bool MakeAuthorities() {
        const test::TempDir& dir = *dir_;
        dir.Write("ca.cnf", "[ca]\ndefault_ca=d\n[d]\ndatabase=" + dir.File("index.txt") +
                                "\nnew_certs_dir=" + dir.Path() + "\nserial=" + dir.File("serial") +
                                "\ndefault_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n");
        dir.Write("index.txt", "");
        dir.Write("serial", "01\n");
        dir.Write("ca.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=keyCertSign,cRLSign\n");
        dir.Write("leaf.ext", "subjectAltName=DNS:mail.test,IP:127.0.0.1\n");
        return Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                   " -subj '/CN=Trust Test Root' -keyout " +
                   F("root.key") + " -out " + F("root.pem")) &&
               Request("inter", "/CN=Trust Test Intermediate") &&
               Run("openssl x509 -req -in " + F("inter.csr") + " -CA " + F("root.pem") + " -CAkey " +
                   F("root.key") + " -CAcreateserial -days 2 -extfile " + F("ca.ext") + " -out " +
                   F("inter.pem")) &&
               Request("leaf", "/CN=mail.test/O=Prüfstelle") &&
               Run("openssl x509 -req -in " + F("leaf.csr") + " -CA " + F("inter.pem") + " -CAkey " +
                   F("inter.key") + " -CAcreateserial -days 2 -extfile " + F("leaf.ext") + " -out " +
                   F("leaf.pem"));
    }
    static std::string F(const std::string& name) { return "'" + dir_->File(name) + "'"; }
    static bool Run(const std::string& command) {
        int status = -1;
        ShellOutput(command, &status);
        return status == 0;
    }
    static bool Request(const std::string& name, const std::string& subject) {
        return Run("openssl req -new -utf8 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '" +
                   subject + "' -keyout " + F(name + ".key") + " -out " + F(name + ".csr"));
    }
    // Signed by the root for the given period ("YYYYMMDDhhmmssZ").
    bool Dated(const std::string& name, const std::string& from, const std::string& until) const {
        return Request(name, "/CN=" + name) &&
               Run("openssl ca -batch -notext -config " + F("ca.cnf") + " -cert " + F("root.pem") +
                   " -keyfile " + F("root.key") + " -in " + F(name + ".csr") + " -out " + F(name + ".pem") +
                   " -startdate " + from + " -enddate " + until);
    }
    std::string Der(const std::string& name) const {
        ShellOutput("openssl x509 -in " + F(name + ".pem") + " -outform der -out " + F(name + ".der"));
        return dir_->Read(name + ".der");
    }
    std::string Field(const std::string& name, const std::string& option) const {
        const std::string line =
            Trimmed(ShellOutput("openssl x509 -noout " + option + " -in " + F(name + ".pem")));
        return line.substr(line.find('=') + 1);
    }
    std::int64_t Seconds(const std::string& name, const std::string& option) const {
        return std::stoll(ShellOutput("date -u -d \"" + Field(name, option) + "\" +%s"));
    }

    static inline test::TempDir* dir_ = nullptr;
    static inline bool made_ = false;
};

TEST_F(Certificates, ChainThroughAnIntermediateIsAcceptedForItsOwnNamesOnly) {
    const Chain chain{Der("leaf"), Der("inter")};
    const TrustSetting system = ParseTrust("");
    SetAuthorityFile(dir_->File("root.pem"));
    EXPECT_EQ(CheckCertificateChain(chain, "mail.test", system).Verdict, TrustVerdict::Authorities);
    EXPECT_EQ(CheckCertificateChain(chain, "127.0.0.1", system).Verdict, TrustVerdict::Authorities);
    const TrustDecision otherName = CheckCertificateChain(chain, "www.mail.test", system);
    EXPECT_EQ(otherName.Verdict, TrustVerdict::WrongHostName);
    EXPECT_EQ(otherName.SystemReason, X509_V_ERR_HOSTNAME_MISMATCH);
    EXPECT_EQ(CheckCertificateChain(chain, "127.0.0.2", system).Verdict, TrustVerdict::WrongHostName);
    EXPECT_EQ(CheckCertificateChain(chain, "", system).Verdict, TrustVerdict::Unverifiable);
    // Without the intermediate the chain does not reach the root.
    EXPECT_EQ(CheckCertificateChain({Der("leaf")}, "mail.test", system).Verdict,
              TrustVerdict::UnknownAuthority);

    // As with libcurl, an authority in the store need not be a root.
    SetAuthorityFile(dir_->File("inter.pem"));
    EXPECT_EQ(CheckCertificateChain(chain, "mail.test", system).Verdict, TrustVerdict::Authorities);
    SetAuthorityFile({}); // the system's store does not know the test's root
    const TrustDecision unknown = CheckCertificateChain(chain, "mail.test", system);
    EXPECT_EQ(unknown.Verdict, TrustVerdict::UnknownAuthority);
    EXPECT_FALSE(unknown.Accepted());
    EXPECT_EQ(unknown.SeenKey(), test::PinOf(dir_->File("leaf.pem")));
}

TEST_F(Certificates, StoredPinReplacesTheChainCheckAndNothingElseMatchesIt) {
    ASSERT_TRUE(Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                    " -subj /CN=self.test -keyout " +
                    F("self.key") + " -out " + F("self.pem")));
    const Chain self{Der("self")};
    const std::string pin = test::PinOf(dir_->File("self.pem"));
    EXPECT_EQ(CheckCertificateChain(self, "self.test", ParseTrust("")).Verdict, TrustVerdict::SelfSigned);
    const TrustDecision pinned = CheckCertificateChain(self, "another.name", ParseTrust(" " + pin + " "));
    EXPECT_EQ(pinned.Verdict, TrustVerdict::StoredPin);
    EXPECT_TRUE(pinned.Accepted());
    for (const std::string& other : {test::PinOf(dir_->File("leaf.pem")), std::string("sha256//-"),
                                     std::string("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s")}) {
        const TrustDecision refused = CheckCertificateChain(self, "self.test", ParseTrust(other));
        EXPECT_EQ(refused.Verdict, TrustVerdict::PinMismatch) << other;
        EXPECT_EQ(refused.SeenKey(), pin);
    }
    // What cannot be read is never trusted, not even by a pin.
    EXPECT_EQ(CheckCertificateChain({"not a certificate"}, "self.test", ParseTrust(pin)).Verdict,
              TrustVerdict::Unverifiable);
    EXPECT_EQ(CheckCertificateChain({}, "self.test", ParseTrust(pin)).Verdict, TrustVerdict::Unverifiable);
}

TEST_F(Certificates, OutOfDateCertificatesAreRefusedUnlessPinned) {
    ASSERT_TRUE(Dated("old", "20200101000000Z", "20200102000000Z"));
    ASSERT_TRUE(Dated("future", "20990101000000Z", "20991231000000Z"));
    SetAuthorityFile(dir_->File("root.pem"));
    EXPECT_EQ(CheckCertificateChain({Der("old")}, "old", ParseTrust("")).Verdict, TrustVerdict::Expired);
    EXPECT_EQ(CheckCertificateChain({Der("future")}, "future", ParseTrust("")).Verdict,
              TrustVerdict::NotYetValid);
    EXPECT_EQ(
        CheckCertificateChain({Der("old")}, "old", ParseTrust(test::PinOf(dir_->File("old.pem")))).Verdict,
        TrustVerdict::StoredPin);
    const CertificateDescription future =
        CheckCertificateChain({Der("future")}, "x", ParseTrust("")).Certificate;
    EXPECT_EQ(future.NotBefore, 4070908800); // 2099-01-01 00:00:00 UTC
    EXPECT_EQ(future.NotAfter, 4102358400);  // 2099-12-31 00:00:00 UTC
}

TEST_F(Certificates, DescriptionShowsWhatOpensslPrints) {
    const CertificateDescription seen =
        CheckCertificateChain({Der("leaf"), Der("inter")}, "mail.test", ParseTrust("")).Certificate;
    EXPECT_EQ(seen.Subject, "O=Prüfstelle,CN=mail.test"_l1);
    EXPECT_EQ(seen.Issuer, "CN=Trust Test Intermediate");
    EXPECT_EQ(seen.AltNames, (std::vector<std::string>{"DNS:mail.test", "IP:127.0.0.1"}));
    EXPECT_EQ(seen.NotBefore, Seconds("leaf", "-startdate"));
    EXPECT_EQ(seen.NotAfter, Seconds("leaf", "-enddate"));
    EXPECT_EQ(seen.Fingerprint, Field("leaf", "-fingerprint -sha256"));
    EXPECT_EQ(seen.Fingerprint.size(), 32u * 3 - 1);
    EXPECT_EQ(seen.Pin, test::PinOf(dir_->File("leaf.pem")));
}

TEST_F(Certificates, RefusalsNameTheirReasonInGerman) {
    ASSERT_TRUE(Dated("gone", "20200101000000Z", "20200102120000Z"));
    ASSERT_TRUE(Dated("early", "20990101000000Z", "20991231000000Z"));
    ASSERT_TRUE(Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
                    " -subj /CN=own.test -keyout " +
                    F("own.key") + " -out " + F("own.pem")));
    SetAuthorityFile(dir_->File("root.pem"));
    const TrustSetting system = ParseTrust("");
    const auto line = [&](const Chain& chain, const std::string& host) {
        return RefusalLine(CheckCertificateChain(chain, host, system));
    };
    const std::string head = "-Zertifikat nicht vertrauenswürdig ("_l1;
    const std::string leafPin = test::PinOf(dir_->File("leaf.pem"));
    EXPECT_EQ(line({Der("leaf"), Der("inter")}, "www.mail.test"),
              head + "ausgestellt für mail.test, 127.0.0.1 statt für www.mail.test): "_l1 + leafPin);
    EXPECT_EQ(line({Der("leaf")}, "mail.test"), head + "unbekannte Zertifizierungsstelle): " + leafPin);
    EXPECT_EQ(line({Der("gone")}, "gone"),
              head + "abgelaufen am 02.01.2020): " + test::PinOf(dir_->File("gone.pem")));
    EXPECT_EQ(line({Der("early")}, "early"),
              head + "noch nicht gültig): "_l1 + test::PinOf(dir_->File("early.pem")));
    EXPECT_EQ(line({Der("own")}, "own.test"),
              head + "selbst signiert): " + test::PinOf(dir_->File("own.pem")));
}

TEST_F(Certificates, APinAddsTrustAndAnotherKeyIsAChange) {
    const Chain chain{Der("leaf"), Der("inter")};
    const std::string leafPin = test::PinOf(dir_->File("leaf.pem"));
    const std::string other = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
    SetAuthorityFile(dir_->File("root.pem"));
    const TrustDecision vouched = CheckCertificateChain(chain, "mail.test", ParseTrust(other));
    EXPECT_EQ(vouched.Verdict, TrustVerdict::Authorities);
    EXPECT_TRUE(vouched.PinUnneeded);
    EXPECT_FALSE(CheckCertificateChain(chain, "mail.test", ParseTrust("")).PinUnneeded);

    SetAuthorityFile({});
    const TrustDecision changed = CheckCertificateChain(chain, "mail.test", ParseTrust(other));
    EXPECT_EQ(changed.Verdict, TrustVerdict::PinMismatch);
    EXPECT_TRUE(changed.Changed());
    EXPECT_EQ(changed.StoredKey, other);
    EXPECT_EQ(RefusalLine(changed), "-Zertifikat geändert: "_l1 + leafPin);
    const std::string warning = TrustChangeWarningText(changed);
    EXPECT_NE(warning.find("Angriff"), std::string::npos) << warning;
    EXPECT_NE(warning.find("Bisher vertraut:\n" + other), std::string::npos) << warning;
    EXPECT_NE(warning.find("Jetzt gezeigt:\n" + leafPin), std::string::npos) << warning;
    EXPECT_NE(warning.find("Grund: unbekannte Zertifizierungsstelle"), std::string::npos) << warning;
    // An SSH fingerprint where a pin belongs is no stored certificate: a first contact.
    EXPECT_FALSE(CheckCertificateChain(chain, "mail.test", ParseTrust("SHA256:abc")).Changed());

    // The question shows every value, the hex fingerprint split at a colon only.
    const std::string question = TrustQuestionText(changed);
    const std::string hex = changed.Certificate.Fingerprint;
    EXPECT_NE(question.find("Server: mail.test\nInhaber: O=Prüfstelle,CN=mail.test\n"
                            "Alternative Namen: DNS:mail.test, IP:127.0.0.1\n"
                            "Aussteller: CN=Trust Test Intermediate\nGültig von: "_l1),
              std::string::npos)
        << question;
    EXPECT_NE(question.find("SHA-256-Fingerabdruck:\n" + hex.substr(0, 48) + "\n" + hex.substr(48)),
              std::string::npos)
        << question;

    const std::optional<TrustDecision> back = UnpackTrustDecision(PackTrustDecision(changed));
    ASSERT_TRUE(back);
    EXPECT_EQ(PackTrustDecision(*back), PackTrustDecision(changed));
    EXPECT_EQ(back->Certificate.AltNames, changed.Certificate.AltNames);
    EXPECT_FALSE(UnpackTrustDecision("kaputt"));
}

// ssh-keygen's public key file holds the type and the key blob in base64.
struct HostKey {
    std::string blob;
    std::string type;
    std::string fingerprint; // as ssh-keygen -l prints it
};

HostKey MakeHostKey(const test::TempDir& dir, const std::string& type) {
    const std::string file = dir.File(type);
    ShellOutput("ssh-keygen -q -N '' -t " + type + " -C test -f '" + file + "'");
    const std::string line = dir.Read(type + ".pub");
    const auto blobStart = line.find(' ') + 1;
    HostKey key;
    key.type = line.substr(0, blobStart - 1);
    key.blob = DecodeBase64(line.substr(blobStart, line.find(' ', blobStart) - blobStart));
    const std::string listed = ShellOutput("ssh-keygen -l -f '" + file + ".pub'");
    const auto at = listed.find(' ') + 1;
    key.fingerprint = listed.substr(at, listed.find(' ', at) - at);
    return key;
}

TEST(TrustHostKeys, OnlyTheStoredFingerprintTrustsAKey) {
    test::TempDir dir;
    const HostKey ed = MakeHostKey(dir, "ed25519");
    const HostKey ecdsa = MakeHostKey(dir, "ecdsa");
    ASSERT_EQ(ed.fingerprint.rfind("SHA256:", 0), 0u) << ed.fingerprint;
    for (const HostKey& key : {ed, ecdsa}) {
        const TrustDecision unknown = CheckHostKey(key.blob, ParseTrust(""));
        EXPECT_EQ(unknown.Verdict, TrustVerdict::UnknownHostKey);
        EXPECT_EQ(unknown.HostKey.Type, key.type);
        EXPECT_EQ(unknown.HostKey.Fingerprint, key.fingerprint);
        EXPECT_EQ(unknown.SeenKey(), key.fingerprint);
        EXPECT_EQ(CheckHostKey(key.blob, ParseTrust(key.fingerprint)).Verdict, TrustVerdict::StoredPin);
    }
    const TrustDecision changed = CheckHostKey(ed.blob, ParseTrust(ecdsa.fingerprint));
    EXPECT_EQ(changed.Verdict, TrustVerdict::ChangedHostKey);
    EXPECT_EQ(RefusalLine(changed), "-SFTP-Schlüssel geändert: "_l1 + ed.fingerprint);
    EXPECT_EQ(RefusalLine(CheckHostKey(ed.blob, ParseTrust(""))), UnknownHostKeyLine(ed.fingerprint));
    EXPECT_NE(TrustQuestionText(CheckHostKey(ecdsa.blob, ParseTrust("")))
                  .find("Schlüsseltyp: ECDSA\nFingerabdruck:\n"_l1 + ecdsa.fingerprint + "\n"),
              std::string::npos);
    // A certificate pin or a broken fingerprint stores no host key.
    EXPECT_EQ(CheckHostKey(ed.blob, ParseTrust("sha256//AbC+/9xyz=")).Verdict, TrustVerdict::UnknownHostKey);
    EXPECT_EQ(CheckHostKey(ed.blob, ParseTrust(ed.fingerprint + "=")).Verdict, TrustVerdict::UnknownHostKey);
    EXPECT_FALSE(CheckHostKey("", ParseTrust(ed.fingerprint)).Accepted());
}

} // namespace
} // namespace pelorix
