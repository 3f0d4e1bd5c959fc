// Which program files root may run: checked on real files and directories that the test gives
// other owners and modes (so it needs root; as anyone else it is skipped).

#include "scm/ProgramTrust.h"
#include "base/Latin1.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

using pelorix::CheckProgramTrust;
using pelorix::test::TempDir;
using namespace pelorix;

namespace {

class ProgramTrustTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to hand files to other owners";
        // The test directory lies in /tmp, which everyone may write but only owners rename in.
        mkdir(temp_.File("bin").c_str(), 0755);
        temp_.Write("bin/program", "#!/bin/sh\n");
        chmod(temp_.File("bin/program").c_str(), 0755);
    }

    TempDir temp_;
};

TEST_F(ProgramTrustTest, RootsOwnProgramIsTrustedThroughALinkAnyoneCouldChange) {
    const auto plain = CheckProgramTrust(temp_.File("bin/program"));
    EXPECT_EQ(plain.error, 0);
    EXPECT_TRUE(plain.trusted) << plain.reason;

    // A link in a directory members write: what root runs is the file it points to now.
    mkdir(temp_.File("shared").c_str(), 0775);
    ASSERT_EQ(symlink(temp_.File("bin/program").c_str(), temp_.File("shared/link").c_str()), 0);
    const auto linked = CheckProgramTrust(temp_.File("shared/link"));
    EXPECT_TRUE(linked.trusted) << linked.reason;
    EXPECT_EQ(linked.resolvedPath, temp_.File("bin/program"));
}

TEST_F(ProgramTrustTest, AProgramOthersOwnOrMayWriteIsNot) {
    ASSERT_EQ(chown(temp_.File("bin/program").c_str(), 65534, 0), 0);
    auto trust = CheckProgramTrust(temp_.File("bin/program"));
    EXPECT_FALSE(trust.trusted);
    EXPECT_EQ(trust.reason, temp_.File("bin/program") + " gehört nicht root"_l1);

    // Group root is root's own; any other group that may write is not.
    ASSERT_EQ(chown(temp_.File("bin/program").c_str(), 0, 0), 0);
    chmod(temp_.File("bin/program").c_str(), 0775);
    EXPECT_TRUE(CheckProgramTrust(temp_.File("bin/program")).trusted);
    ASSERT_EQ(chown(temp_.File("bin/program").c_str(), 0, 65534), 0);
    trust = CheckProgramTrust(temp_.File("bin/program"));
    EXPECT_FALSE(trust.trusted);
    EXPECT_EQ(trust.reason, temp_.File("bin/program") + " ist für Gruppe oder andere beschreibbar"_l1);

    // Sound itself, but in a directory the group may write (where a member could swap it).
    chmod(temp_.File("bin/program").c_str(), 0755);
    ASSERT_EQ(chown(temp_.File("bin").c_str(), 0, 65534), 0);
    chmod(temp_.File("bin").c_str(), 02775);
    trust = CheckProgramTrust(temp_.File("bin/program"));
    EXPECT_FALSE(trust.trusted);
    EXPECT_EQ(trust.reason, temp_.File("bin") + " ist für Gruppe oder andere beschreibbar"_l1);

    // A directory above that belongs to someone else.
    chmod(temp_.File("bin").c_str(), 0755);
    const std::string top = temp_.Path().substr(0, temp_.Path().size() - 1);
    ASSERT_EQ(chown(top.c_str(), 65534, 65534), 0);
    trust = CheckProgramTrust(temp_.File("bin/program"));
    chown(top.c_str(), 0, 0);
    EXPECT_FALSE(trust.trusted);
    EXPECT_EQ(trust.reason, top + " gehört nicht root"_l1);
}

TEST_F(ProgramTrustTest, AMissingProgramGivesItsError) {
    const auto trust = CheckProgramTrust(temp_.File("bin/missing"));
    EXPECT_EQ(trust.error, ENOENT);
    EXPECT_FALSE(trust.trusted);
}

} // namespace
