#include "net/Trust.h"

#include "base/Latin1.h"

#include <gtest/gtest.h>

using namespace pelorix;

TEST(Trust, StoredTextBecomesOneRule) {
    EXPECT_EQ(ParseTrust("  ").Kind, TrustKind::SystemAuthorities);
    const auto pin = ParseTrust(" sha256//AbC+/9xyz= ");
    EXPECT_EQ(pin.Kind, TrustKind::PublicKeyPin);
    EXPECT_TRUE(pin.Valid);
    EXPECT_EQ(pin.Value, "sha256//AbC+/9xyz=");
    const auto key = ParseTrust("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");
    EXPECT_EQ(key.Kind, TrustKind::HostKeyFingerprint);
    EXPECT_TRUE(key.Valid);
    for (const char* broken : {"sha256//", "sha256//a b", "SHA256:abc=", "md5//abc", "sha256//a==="})
        EXPECT_FALSE(ParseTrust(broken).Valid) << broken;
    EXPECT_EQ(UntrustedCertificateLine("sha256//x"), "-Zertifikat nicht vertrauenswürdig: sha256//x"_l1);
    EXPECT_EQ(UnknownHostKeyLine("SHA256:x"), "-SFTP-Schlüssel unbekannt: SHA256:x"_l1);
}
