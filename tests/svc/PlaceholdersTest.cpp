// One placeholder engine under the page and the mail, each with its own formats and order.

#include "svc/Placeholders.h"

#include "../mail/MailTestPeers.h"
#include "svc/MailCompose.h"
#include "svc/PageFill.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(PlaceholdersTest, PageAndMailFillTheSameTemplateInTheirOwnFormats) {
    const test::FixedClock clock(test::SampleTime());
    const TPageFiller page("84.1.2.3", clock, "C");
    const std::string text = "%IP% am %Date% um %Time%";
    EXPECT_EQ(page.FillLine(text), "84.1.2.3 am 05.03.26 (Thursday) um 14:05");
    EXPECT_EQ(FillMailText(text, "84.1.2.3", clock), "84.1.2.3 am 05.03.26 um 14:05");
    // The page fills the address first, the mail last: a date placeholder inside the address
    // is filled on the page only.
    EXPECT_EQ(TPageFiller("%Date%", clock, "C").FillLine("[%IP%]"), "[05.03.26 (Thursday)]");
    EXPECT_EQ(FillMailText("[%IP%]", "%Date%", clock), "[%Date%]");
}

TEST(PlaceholdersTest, APlaceholderThatBeginsLikeAnotherIsFilledOnItsOwn) {
    const std::string text = "%IP% %IP6% %IP%6 %IP6";
    const std::string filled = "84.1.2.3 2001:db8::7 84.1.2.36 %IP6";
    EXPECT_EQ(PlaceholderSet()
                  .Add("%IP%", [] { return "84.1.2.3"; })
                  .Add("%IP6%", [] { return "2001:db8::7"; })
                  .Fill(text),
              filled);
    EXPECT_EQ(PlaceholderSet()
                  .Add("%IP6%", [] { return "2001:db8::7"; })
                  .Add("%IP%", [] { return "84.1.2.3"; })
                  .Fill(text),
              filled);
    EXPECT_EQ(PlaceholderSet().Add("", [] { return "x"; }).Fill("ab"), "ab")
        << "an empty name matches nothing";
}

} // namespace
} // namespace pelorix
