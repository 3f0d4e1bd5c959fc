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

constexpr const char* kPlaceholderIP = "%IP%";
constexpr const char* kPlaceholderDate = "%Date%";
constexpr const char* kPlaceholderTime = "%Time%";

// Replaces every occurrence of placeholder from left to right by what make() gives.
template <typename Make>
std::string ReplaceAll(std::string_view line, std::string_view placeholder, Make make) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = line.find(placeholder); at != std::string_view::npos;
         at = line.find(placeholder, from)) {
        out.append(line.substr(from, at - from));
        out += make();
        from = at + placeholder.size();
    }
    out.append(line.substr(from));
    return out;
}

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

std::string TPageFiller::FillLine(std::string_view line) const {
    std::string filled = ReplaceAll(line, kPlaceholderIP, [&] { return ip_; });
    filled = ReplaceAll(filled, kPlaceholderDate, [&] { return FormatPageDate(clock_.Now(), localeName_); });
    return ReplaceAll(filled, kPlaceholderTime, [&] { return FormatPageTime(clock_.Now()); });
}

void TPageFiller::FillLines(PageLines& lines) const {
    for (std::string& line : lines)
        line = FillLine(line);
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

PageLines DefaultPageLines(bool offline) {
    return {
        R"(<HTML><HEAD><META HTTP-EQUIV="expires" CONTENT="0"><TITLE>privater Server</TITLE></HEAD>)",
        R"(<BODY BGCOLOR="#FFFFFF"><DIV ALIGN="center"><H1>&Uuml;bergang zum privaten Server</H1><HR><BR>)",
        offline ? R"(<H2><BR>zur Zeit offline!</H2>)" : R"(<H2><BR><a href="http://%IP%/">%IP%</a></H2>)",
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
            lines = DefaultPageLines(offline);
        }
        filler.FillLines(lines);
        outcome.written = WriteLines(resultPath, lines);
    } catch (...) {
        outcome.written = false;
    }
    return outcome;
}

} // namespace pelorix
