#include "svc/PageFill.h"

#include "base/Latin1.h"
#include "platform/Clock.h"
#include "platform/FileReplace.h"
#include "platform/FileSystemName.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace pelorix {

namespace {

std::string JoinWithCrLf(const PageLines& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

} // namespace

std::string WeekdayName(int weekday, const std::string& localeName) {
    return LocalWeekdayName(weekday, localeName);
}

std::string FormatPageDate(const LocalTime& t, const std::string& localeName) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d.%02d.%02d", t.day % 100, t.month % 100, t.year % 100);
    return std::string(text) + " (" + WeekdayName(t.weekday, localeName) + ")";
}

std::string FormatPageTime(const LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", t.hour % 100, t.minute % 100);
    return text;
}

TPageFiller::TPageFiller(std::string ip, const IClock& clock, std::string localeName)
    : ip_(std::move(ip)), clock_(clock), localeName_(std::move(localeName)) {}

TPageFiller& TPageFiller::WithIPv6(std::string ip6, IPv6Use use) {
    ip6_ = std::move(ip6);
    ipv6Use_ = use;
    return *this;
}

// Made for each call rather than kept, so that a copied filler never fills from the values of
// another.
PlaceholderSet TPageFiller::Placeholders() const {
    PlaceholderSet placeholders;
    placeholders.Add("%IP%", [this] { return ip_; });
    if (ipv6Use_ != IPv6Use::Off)
        placeholders.Add("%IP6%", [this] { return ip6_; });
    placeholders.Add("%Date%", [this] { return FormatPageDate(clock_.Now(), localeName_); })
        .Add("%Time%", [this] { return FormatPageTime(clock_.Now()); });
    return placeholders;
}

std::string TPageFiller::FillLine(std::string_view line) const {
    return Placeholders().Fill(line);
}

void TPageFiller::FillLines(PageLines& lines) const {
    const PlaceholderSet placeholders = Placeholders();
    for (std::string& line : lines)
        line = placeholders.Fill(line);
}

PageLines SplitLines(std::string_view text) {
    PageLines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

bool ReadTemplateLines(const std::string& path, PageLines& lines, std::uintmax_t* oversize) {
    if (oversize)
        *oversize = 0;
    if (path.empty())
        return false;
    std::string bytes;
    if (!ReadRegularFile(FileSystemName(path), kMaxTemplateBytes, bytes, oversize))
        return false;
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string::npos)
        bytes.resize(zero);
    lines = SplitLines(bytes);
    return true;
}

bool WriteLines(const std::string& path, const PageLines& lines) {
    // Through a symbolic link the document it points to is replaced, not the link. A document
    // others read (a web server's page) keeps its owner, group and mode; a new one is 0664, so
    // whoever runs the service next may write it again.
    ReplaceOptions options;
    options.newFileMode = 0664;
    options.exactNewFileMode = true;
    options.keepWriteProtected = true;
    options.inPlaceUnlessKept = true;
    return ReplaceWholeFile(FileSystemName(path), JoinWithCrLf(lines), options) == 0;
}

namespace {

// The line with the link: a visitor follows the first address shown.
std::string DefaultAddressLine(bool offline, IPv6Use ipv6) {
    if (offline)
        return R"(<H2><BR>zur Zeit offline!</H2>)";
    switch (ipv6) {
    case IPv6Use::Also:
        return R"(<H2><BR><a href="http://[%IP6%]/">%IP6%</a><BR><a href="http://%IP%/">%IP%</a></H2>)";
    case IPv6Use::Only:
        return R"(<H2><BR><a href="http://[%IP6%]/">%IP6%</a></H2>)";
    case IPv6Use::Off:
        break;
    }
    return R"(<H2><BR><a href="http://%IP%/">%IP%</a></H2>)";
}

} // namespace

PageLines DefaultPageLines(bool offline, IPv6Use ipv6) {
    return {
        R"(<HTML><HEAD><META HTTP-EQUIV="expires" CONTENT="0"><TITLE>privater Server</TITLE></HEAD>)",
        R"(<BODY BGCOLOR="#FFFFFF"><DIV ALIGN="center"><H1>&Uuml;bergang zum privaten Server</H1><HR><BR>)",
        DefaultAddressLine(offline, ipv6),
        "<SMALL>%Date%, %Time%</SMALL></DIV>\r\n</BODY></HTML>",
    };
}

std::vector<std::string> FillAdditionalPages(const std::array<std::string, 10>& pages,
                                             const TPageFiller& filler) {
    std::vector<std::string> failed;
    for (std::size_t i = 0; i < 5; ++i) {
        const std::string& templatePath = pages[i];
        const std::string& resultPath = pages[i + 5];
        if (templatePath.empty() || resultPath.empty())
            continue;
        PageLines lines;
        bool ok = false;
        try {
            if (ReadTemplateLines(templatePath, lines)) {
                filler.FillLines(lines);
                ok = WriteLines(resultPath, lines);
            }
        } catch (...) {
            ok = false;
        }
        if (!ok)
            failed.push_back(templatePath);
    }
    return failed;
}

MainPageOutcome FillMainPage(const std::string& templatePath, const std::string& resultPath,
                             const TPageFiller& filler, bool offline) {
    MainPageOutcome outcome;
    PageLines lines;
    try {
        if (!ReadTemplateLines(templatePath, lines, &outcome.templateTooLarge)) {
            if (outcome.templateTooLarge != 0)
                return outcome;
            outcome.templateMissing = true;
            lines = DefaultPageLines(offline, filler.IPv6());
        }
        filler.FillLines(lines);
        outcome.written = WriteLines(resultPath, lines);
    } catch (...) {
        outcome.written = false;
    }
    return outcome;
}

} // namespace pelorix
