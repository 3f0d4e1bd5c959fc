#pragma once
// Page generation: templates become documents with the address, date and time filled in.
// The worker's GeneratePages and the manager's manual upload use the same functions and only
// report differently. Documents are lists of Latin-1 lines; files are written with CR LF line
// ends and replaced whole. No state; callable from any thread.

#include "common/Config.h"
#include "platform/Clock.h"
#include "svc/Placeholders.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

using PageLines = std::vector<std::string>;

// The full weekday name (0 = Sunday) in the LC_TIME language of localeName, as Latin-1;
// localeName empty means the process environment (LC_ALL, LC_TIME, LANG). A locale that is
// not installed gives the C locale's names.
std::string WeekdayName(int weekday, const std::string& localeName = {});

// "dd.mm.yy (dddd)" and "hh:nn".
std::string FormatPageDate(const LocalTime& t, const std::string& localeName = {});
std::string FormatPageTime(const LocalTime& t);

// Fills "%IP%", then "%Date%", then "%Time%" into lines (as svc/Placeholders.h fills them); date
// and time are read from the clock afresh at each replacement. With IPv6 on, "%IP6%" is filled
// right after "%IP%"; without, it stays as written, as it always did.
class TPageFiller {
public:
    TPageFiller(std::string ip, const IClock& clock, std::string localeName = {});
    // The IPv6 address ("" when none was found) and how IPv6 is used; Off leaves "%IP6%" alone.
    TPageFiller& WithIPv6(std::string ip6, IPv6Use use);
    IPv6Use IPv6() const { return ipv6Use_; }
    std::string FillLine(std::string_view line) const;
    void FillLines(PageLines& lines) const;

private:
    PlaceholderSet Placeholders() const;

    std::string ip_;
    std::string ip6_;
    IPv6Use ipv6Use_ = IPv6Use::Off;
    const IClock& clock_;
    std::string localeName_;
};

// Splits text at CR LF, LF or CR; a line break at the very end gives no empty last line.
PageLines SplitLines(std::string_view text);

// The largest template read; a bigger file counts as unreadable.
inline constexpr std::size_t kMaxTemplateBytes = 1024 * 1024;

// Reads a template as bytes (its text ends at the first zero byte) into lines; false when
// the file cannot be read, is no regular file (a FIFO, a device, a directory) or is larger
// than kMaxTemplateBytes (then *oversize, when given, tells its size).
bool ReadTemplateLines(const std::string& path, PageLines& lines, std::uintmax_t* oversize = nullptr);

// Writes every line followed by CR LF. The file is replaced at once through a temporary file
// beside it, so a reader sees the old document or the new one, never a part. An existing
// file keeps its owner, group and mode: where the replacement could not give it them, it is
// rewritten in place; a file without write permission is left alone. A new file is 0664.
// False on any error.
bool WriteLines(const std::string& path, const PageLines& lines);

// The built-in page used when the main template cannot be read: four entries, the last with
// an embedded CR LF. The offline variant (manager only) says "zur Zeit offline!". With IPv6 on,
// the online page leads to the IPv6 address first and shows the IPv4 one below it (IPv6 alone:
// only the IPv6 address).
PageLines DefaultPageLines(bool offline = false, IPv6Use ipv6 = IPv6Use::Off);

// The additional documents: for each of the five pairs (template pages[i], result
// pages[i + 5]) with both sides set, in order, the filled template is written to the result.
// Returns the template paths of the pairs that failed; pairs with an empty side are skipped.
std::vector<std::string> FillAdditionalPages(const std::array<std::string, 10>& pages,
                                             const TPageFiller& filler);

// The main page: the template (or, when it cannot be read, the built-in page for the filler's
// use of IPv6) filled and written to resultPath. A template over the size limit is the user's
// page all the same: the built-in one must not go live in its place, so nothing is written then.
struct MainPageOutcome {
    bool templateMissing = false;        // the built-in page was used
    bool written = false;                // resultPath holds the new page
    std::uintmax_t templateTooLarge = 0; // the template's size when over kMaxTemplateBytes
};
MainPageOutcome FillMainPage(const std::string& templatePath, const std::string& resultPath,
                             const TPageFiller& filler, bool offline = false);

} // namespace pelorix
