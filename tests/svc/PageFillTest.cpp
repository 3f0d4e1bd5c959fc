// Filling placeholders, reading templates and writing documents.

#include "svc/PageFill.h"

#include "TempDir.h"
#include "common/Latin1.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>

#include <filesystem>

namespace pelorix {
namespace {

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

bool LocaleInstalled(const char* name) {
    const locale_t locale = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0))
        return false;
    freelocale(locale);
    return true;
}

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
    TempDir dir;
    dir.Write("real.htm", "old\r\n");
    std::filesystem::create_symlink(dir.File("real.htm"), dir.File("link.htm"));
    ASSERT_TRUE(WriteLines(dir.File("link.htm"), {"new"}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.htm")));
    EXPECT_EQ(dir.Read("real.htm"), "new\r\n");
}

} // namespace
} // namespace pelorix
