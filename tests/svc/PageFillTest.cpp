// Filling placeholders, reading templates and writing documents.

#include "svc/PageFill.h"

#include "TempDir.h"
#include "TestSystem.h"
#include "base/Latin1.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace pelorix {
namespace {

using test::LocaleInstalled;
using test::TempDir;

// Monday, 7 December 2026, 22:05; every reading of the clock moves it on by a minute.
class StepClock final : public IClock {
public:
    LocalTime Now() const override {
        LocalTime t = time;
        t.minute += reads++;
        return t;
    }
    long long MonotonicMs() const override { return 0; }
    LocalTime time{2026, 12, 7, 22, 5, 9, 1, 60};
    mutable int reads = 0;
};

std::size_t FilesIn(const std::string& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

TEST(PageFillTest, EveryPlaceholderIsFilledAndOtherCaseIsLeft) {
    StepClock clock;
    const TPageFiller filler("84.1.2.3", clock, "C");
    EXPECT_EQ(filler.FillLine(R"(<a href="http://%IP%/">%IP%</a> %ip% %IP)"),
              R"(<a href="http://84.1.2.3/">84.1.2.3</a> %ip% %IP)");
    EXPECT_EQ(filler.FillLine("Stand: %Date%, %Time%"), "Stand: 07.12.26 (Monday), 22:06");
    // Date and time are read afresh at each replacement.
    EXPECT_EQ(filler.FillLine("%Time% %Time%"), "22:07 22:08");
    EXPECT_EQ(filler.FillLine("%%IP%% %DATE% %time%"), "%84.1.2.3% %DATE% %time%");
}

TEST(PageFillTest, InsertedTextIsNotSearchedAgain) {
    StepClock clock;
    const TPageFiller filler("x%IP%y", clock, "C");
    EXPECT_EQ(filler.FillLine("[%IP%]"), "[x%IP%y]");
}

TEST(PageFillTest, DateAndTimeHaveTwoDigitsEach) {
    LocalTime t{2009, 3, 5, 7, 4, 0, 4, 0};
    EXPECT_EQ(FormatPageDate(t, "C"), "05.03.09 (Thursday)");
    EXPECT_EQ(FormatPageTime(t), "07:04");
}

TEST(PageFillTest, WeekdayNamesFollowTheLocale) {
    if (!LocaleInstalled("de_DE.UTF-8") || !LocaleInstalled("hu_HU.UTF-8") || !LocaleInstalled("de_DE"))
        GTEST_SKIP() << "locales not installed";
    EXPECT_EQ(WeekdayName(1, "de_DE.UTF-8"), "Montag");
    EXPECT_EQ(WeekdayName(0, "de_DE"), "Sonntag"); // a Latin-1 locale passes through
    EXPECT_EQ(WeekdayName(4, "hu_HU.UTF-8"), "csütörtök"_l1);
    EXPECT_EQ(WeekdayName(1, "xx_NOWHERE.UTF-8"), "Monday");
    EXPECT_EQ(WeekdayName(7, "C"), "");

    StepClock clock;
    EXPECT_EQ(TPageFiller("1.2.3.4", clock, "de_DE.UTF-8").FillLine("%Date%"), "07.12.26 (Montag)");
}

TEST(PageFillTest, LinesSplitAtEveryKindOfLineBreak) {
    using L = PageLines;
    EXPECT_EQ(SplitLines(""), L{});
    EXPECT_EQ(SplitLines("a"), L{"a"});
    EXPECT_EQ(SplitLines("a\r\n"), L{"a"});
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (L{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\r\nb\n\n"), (L{"a", "", "b", ""}));
    EXPECT_EQ(SplitLines("\n"), L{""});
}

TEST(PageFillTest, TemplatesAreReadAsBytesUpToTheFirstZero) {
    TempDir dir;
    dir.Write("t.htm", "ä %IP%\n"_l1 + std::string(1, '\0') + "hidden\n");
    PageLines lines;
    ASSERT_TRUE(ReadTemplateLines(dir.File("t.htm"), lines));
    EXPECT_EQ(lines, PageLines{"ä %IP%"_l1});
    EXPECT_FALSE(ReadTemplateLines(dir.File("missing.htm"), lines));
    EXPECT_FALSE(ReadTemplateLines(dir.Path(), lines));
    EXPECT_FALSE(ReadTemplateLines("", lines));

    dir.Write("big.htm", std::string(kMaxTemplateBytes, 'x'));
    EXPECT_TRUE(ReadTemplateLines(dir.File("big.htm"), lines));
    dir.Write("big.htm", std::string(kMaxTemplateBytes + 1, 'x'));
    EXPECT_FALSE(ReadTemplateLines(dir.File("big.htm"), lines)) << "beyond 1 MiB";
}

TEST(PageFillTest, TemplateWithoutPlaceholdersIsCopiedWithCrLf) {
    TempDir dir;
    dir.Write("t.htm", "<html>\n<body>hier</body>\r</html>");
    StepClock clock;
    const MainPageOutcome outcome =
        FillMainPage(dir.File("t.htm"), dir.File("out.htm"), TPageFiller("1.2.3.4", clock, "C"));
    EXPECT_FALSE(outcome.templateMissing);
    EXPECT_TRUE(outcome.written);
    EXPECT_EQ(dir.Read("out.htm"), "<html>\r\n<body>hier</body>\r\n</html>\r\n");
}

TEST(PageFillTest, MissingTemplateGivesTheFiveLineDefaultPage) {
    TempDir dir;
    StepClock clock;
    const MainPageOutcome outcome =
        FillMainPage(dir.File("fehlt.htm"), dir.File("out.htm"), TPageFiller("84.1.2.3", clock, "C"));
    EXPECT_TRUE(outcome.templateMissing);
    EXPECT_TRUE(outcome.written);
    EXPECT_EQ(
        dir.Read("out.htm"),
        "<HTML><HEAD><META HTTP-EQUIV=\"expires\" CONTENT=\"0\"><TITLE>privater Server</TITLE></HEAD>\r\n"
        "<BODY BGCOLOR=\"#FFFFFF\"><DIV ALIGN=\"center\"><H1>&Uuml;bergang zum privaten "
        "Server</H1><HR><BR>\r\n"
        "<H2><BR><a href=\"http://84.1.2.3/\">84.1.2.3</a></H2>\r\n"
        "<SMALL>07.12.26 (Monday), 22:06</SMALL></DIV>\r\n"
        "</BODY></HTML>\r\n");

    FillMainPage(dir.File("fehlt.htm"), dir.File("off.htm"), TPageFiller("84.1.2.3", clock, "C"), true);
    EXPECT_NE(dir.Read("off.htm").find("\r\n<H2><BR>zur Zeit offline!</H2>\r\n"), std::string::npos);
}

TEST(PageFillTest, AdditionalPagesGoOnPastFailuresAndSkipIncompletePairs) {
    TempDir dir;
    dir.Write("a.htm", "A %IP%");
    dir.Write("c.htm", "C %IP%");
    dir.Write("e.htm", "E %IP%");
    std::array<std::string, 10> pages{dir.File("a.htm"), dir.File("b.htm"),   dir.File("c.htm"), "",
                                      dir.File("e.htm"), dir.File("a.out"),   dir.File("b.out"), "",
                                      dir.File("d.out"), dir.File("no/e.out")};
    StepClock clock;
    const std::vector<std::string> failed = FillAdditionalPages(pages, TPageFiller("1.2.3.4", clock, "C"));
    EXPECT_EQ(failed, (std::vector<std::string>{dir.File("b.htm"), dir.File("e.htm")}));
    EXPECT_EQ(dir.Read("a.out"), "A 1.2.3.4\r\n");
    EXPECT_FALSE(dir.Exists("b.out"));
    EXPECT_FALSE(dir.Exists("d.out"));
}

TEST(PageFillTest, ResultIsReplacedWholeKeepingItsMode) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "no Unix modes";
    TempDir dir;
    dir.Write("out.htm", "old old old old old\r\n");
    chmod(dir.File("out.htm").c_str(), 0640);
    ASSERT_TRUE(WriteLines(dir.File("out.htm"), {"new"}));
    EXPECT_EQ(dir.Read("out.htm"), "new\r\n");
    struct stat st {};
    ASSERT_EQ(stat(dir.File("out.htm").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(FilesIn(dir.Path()), 1u); // no temporary file left behind
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

// A web server's page (another owner, 0640) stays the web server's: replaced with the same
// owner where the writer may give it, rewritten in place where not; a write-protected one fails.
TEST(PageFillTest, ExistingResultKeepsOwnerGroupAndMode) {
    if (!test::MayHandFilesToOtherUsers())
        GTEST_SKIP() << "needs the right to hand files to other users";
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0777);
    dir.Write("ip.html", "old");
    ASSERT_TRUE(test::ChangeOwner(dir.File("ip.html"), 1003, 1003));
    ::chmod(dir.File("ip.html").c_str(), 0640);
    ASSERT_TRUE(WriteLines(dir.File("ip.html"), {"new"}));
    struct stat st = StatOf(dir.File("ip.html"));
    EXPECT_EQ(st.st_uid, 1003u);
    EXPECT_EQ(st.st_gid, 1003u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Read("ip.html"), "new\r\n");

    ::chmod(dir.File("ip.html").c_str(), 0666); // writable for the unprivileged service, not its own
    const ino_t inode = st.st_ino;
    EXPECT_TRUE(test::WorksAsNobody([&] { return WriteLines(dir.File("ip.html"), {"x"}); }));
    st = StatOf(dir.File("ip.html"));
    EXPECT_EQ(st.st_uid, 1003u);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(st.st_ino, inode) << "rewritten in place";
    EXPECT_EQ(dir.Read("ip.html"), "x\r\n");

    ::chmod(dir.File("ip.html").c_str(), 0644); // readable only: the rename would be allowed, but no
    EXPECT_FALSE(test::WorksAsNobody([&] { return WriteLines(dir.File("ip.html"), {"y"}); }));
    dir.Write("own.html", "old");
    ::chmod(dir.File("own.html").c_str(), 0444);
    EXPECT_FALSE(WriteLines(dir.File("own.html"), {"y"})) << "write-protected";
    EXPECT_EQ(dir.Read("ip.html") + dir.Read("own.html"), "x\r\nold");

    const mode_t umask = ::umask(022);
    EXPECT_TRUE(WriteLines(dir.File("new.html"), {"n"}));
    ::umask(umask);
    EXPECT_EQ(StatOf(dir.File("new.html")).st_mode & 07777, 0664u);
    EXPECT_EQ(FilesIn(dir.Path()), 3u); // no temporary file left behind
}

TEST(PageFillTest, UnwritableResultFailsAndLeavesNothingBehind) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("site.htm"));
    StepClock clock;
    const MainPageOutcome outcome =
        FillMainPage(dir.File("fehlt.htm"), dir.File("site.htm"), TPageFiller("1.2.3.4", clock, "C"));
    EXPECT_FALSE(outcome.written);
    EXPECT_FALSE(WriteLines(dir.File("no/such/dir.htm"), {"x"}));
    EXPECT_FALSE(WriteLines("", {"x"}));
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

TEST(PageFillTest, WritingThroughALinkReplacesTheDocument) {
    if (test::RunsOnWindows())
        GTEST_SKIP() << "symbolic links need a privilege there";
    TempDir dir;
    dir.Write("real.htm", "old\r\n");
    std::filesystem::create_symlink(dir.File("real.htm"), dir.File("link.htm"));
    ASSERT_TRUE(WriteLines(dir.File("link.htm"), {"new"}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.htm")));
    EXPECT_EQ(dir.Read("real.htm"), "new\r\n");
}

} // namespace
} // namespace pelorix
