// The worker's page stage: the files it writes and the lines it reports.

#include "StageTestKit.h"

#include "TempDir.h"
#include "TestSystem.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pelorix {
namespace {

using Lines = std::vector<std::string>;
using test::StageKit;
using test::TempDir;

const std::string kDone = "+Seitengenerierung ausgeführt"_l1;

class StagePagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        kit.service.HTMLTemplate = dir.File("Pelorix.htm");
        kit.service.TempSite = dir.File("PelorTmp.htm");
        kit.Worker().CurrentIP = "84.1.2.3";
    }
    TempDir dir;
    StageKit kit;
};

TEST_F(StagePagesTest, TemplateIsFilledIntoTheLocalPage) {
    dir.Write("Pelorix.htm", "<a href=\"http://%IP%/\">%IP%</a>\n%ip%\n");
    EXPECT_TRUE(kit.Worker().GeneratePages());
    EXPECT_EQ(dir.Read("PelorTmp.htm"), "<a href=\"http://84.1.2.3/\">84.1.2.3</a>\r\n%ip%\r\n");
    EXPECT_EQ(kit.Lines(), Lines{kDone});
}

TEST_F(StagePagesTest, MissingTemplateGivesTheDefaultPage) {
    EXPECT_TRUE(kit.Worker().GeneratePages());
    EXPECT_EQ(kit.Lines(), (Lines{"+Seitenvorlage fehlt", kDone}));
    const std::string page = dir.Read("PelorTmp.htm");
    EXPECT_NE(page.find("<H2><BR><a href=\"http://84.1.2.3/\">84.1.2.3</a></H2>\r\n"), std::string::npos);
    EXPECT_NE(page.find("<SMALL>07.12.26 ("), std::string::npos);
    EXPECT_NE(page.find("), 22:05</SMALL></DIV>\r\n</BODY></HTML>\r\n"), std::string::npos);
}

TEST_F(StagePagesTest, ATemplateOverOneMebibyteIsNamedAndNoPageIsMade) {
    dir.Write("PelorTmp.htm", "the page published before");
    dir.Write("Pelorix.htm", std::string(1024 * 1024, 'x') + "%IP%");
    EXPECT_FALSE(kit.Worker().GeneratePages()); // nothing to upload
    EXPECT_EQ(kit.Lines(), Lines{"-Seitenvorlage zu groß (1048580 Bytes, höchstens 1 MiB)"_l1});
    EXPECT_EQ(dir.Read("PelorTmp.htm"), "the page published before");

    dir.Write("Pelorix.htm", std::string(1024 * 1024 - 4, 'x') + "%IP%"); // exactly the limit
    EXPECT_TRUE(kit.Worker().GeneratePages());
    EXPECT_EQ(kit.Lines(), Lines{kDone});
    EXPECT_EQ(dir.Read("PelorTmp.htm"), std::string(1024 * 1024 - 4, 'x') + "84.1.2.3\r\n");
}

TEST_F(StagePagesTest, SpecialFilesAsTemplatesCountAsMissingAndNeverHold) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "no FIFOs and no /dev/zero";
    ASSERT_TRUE(test::MakeFifo(dir.File("Pelorix.htm")));
    kit.service.AddPages = true;
    kit.service.AddPage[0] = "/dev/zero";
    kit.service.AddPage[5] = dir.File("zero.out");
    EXPECT_TRUE(kit.Worker().GeneratePages()); // neither the FIFO nor the device holds it
    EXPECT_EQ(kit.Lines(), (Lines{"-Zusatzseite '/dev/zero' nicht gefunden oder nicht zu schreiben",
                                  "+Seitenvorlage fehlt", kDone}));
    EXPECT_FALSE(dir.Exists("zero.out"));
}

TEST_F(StagePagesTest, AdditionalPagesAreMadeOnlyWhenSwitchedOn) {
    dir.Write("Pelorix.htm", "%IP%");
    dir.Write("a.txt", "A=%IP%");
    dir.Write("c.txt", "C=%IP%");
    kit.service.AddPage = {dir.File("a.txt"),
                           "",
                           dir.File("c.txt"),
                           dir.File("d.txt"),
                           "",
                           dir.File("a.out"),
                           "",
                           "",
                           dir.File("no/d.out"),
                           dir.File("e.out")};
    kit.service.AddPages = false;
    EXPECT_TRUE(kit.Worker().GeneratePages());
    EXPECT_FALSE(dir.Exists("a.out"));
    kit.Lines();

    kit.service.AddPages = true;
    EXPECT_TRUE(kit.Worker().GeneratePages());
    EXPECT_EQ(dir.Read("a.out"), "A=84.1.2.3\r\n");
    EXPECT_EQ(dir.Read("PelorTmp.htm"), "84.1.2.3\r\n");
    EXPECT_EQ(
        kit.Lines(),
        (Lines{"-Zusatzseite '" + dir.File("d.txt") + "' nicht gefunden oder nicht zu schreiben", kDone}));
}

TEST_F(StagePagesTest, UnwritableLocalPageFails) {
    std::filesystem::create_directory(dir.File("PelorTmp.htm"));
    dir.Write("Pelorix.htm", "%IP%");
    EXPECT_FALSE(kit.Worker().GeneratePages());
    EXPECT_EQ(kit.Lines(), Lines{"-Schreibfehler bei lokaler temporärer Seite"_l1});
}

} // namespace
} // namespace pelorix
