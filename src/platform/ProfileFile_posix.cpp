#include "platform/ProfileFile.h"

#include "platform/FileSystemName.h"
#include "platform/ProfileText.h"
#include "platform/RootOnlyPath_posix.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace pelorix {

using namespace profile;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

} // namespace

ProfileFile::ProfileFile(std::string path, FileWriter writer, mode_t newFileMode)
    : path_(FileSystemName(path)), writer_(std::move(writer)), newFileMode_(newFileMode) {
    Load();
}

void ProfileFile::Load() {
    // O_NONBLOCK keeps a FIFO in place of the file from blocking the open.
    FileDescriptor fd(OpenEntry(path_, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        // Root reads nothing through a link someone else planted; the commit replaces the link.
        const bool plantedLink = errno == ELOOP && ::geteuid() == 0;
        if (errno != ENOENT && !plantedLink)
            readError_ = errno;
        return;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        readError_ = errno;
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        readError_ = EISDIR;
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        readError_ = EINVAL;
        return;
    }
    if (static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
        readError_ = EFBIG;
        return;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            readError_ = errno;
            return;
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > kMaxFileSize) {
            readError_ = EFBIG;
            return;
        }
    }
    existed_ = true;
    original_ = bytes;
    Parse(bytes);
}

void ProfileFile::Parse(std::string_view bytes) {
    bool styleKnown = false;
    while (!bytes.empty()) {
        const auto newline = bytes.find('\n');
        std::string_view text = bytes.substr(0, newline);
        std::string eol;
        if (newline == std::string_view::npos) {
            bytes = {};
        } else {
            bytes.remove_prefix(newline + 1);
            eol = "\n";
            if (!text.empty() && text.back() == '\r') {
                text.remove_suffix(1);
                eol = "\r\n";
            }
            if (!styleKnown) {
                eolStyle_ = eol;
                styleKnown = true;
            }
        }
        if (lines_.empty() && text.starts_with(kUtf8Bom)) {
            Line line = MakeLine(std::string(text.substr(kUtf8Bom.size())), eol);
            line.text = std::string(text);
            lines_.push_back(std::move(line));
        } else {
            lines_.push_back(MakeLine(std::string(text), eol));
        }
    }
}

ProfileFile::Line ProfileFile::MakeLine(std::string text, std::string eol) {
    Line line{std::move(text), std::move(eol), LineKind::Other, {}};
    const std::string_view trimmed = Trim(line.text);
    if (trimmed.empty()) {
        line.kind = LineKind::Blank;
    } else if (trimmed.front() == ';') {
        line.kind = LineKind::Comment;
    } else if (trimmed.front() == '[' && trimmed.rfind(']') != std::string_view::npos) {
        line.kind = LineKind::Section;
        line.name = std::string(Trim(trimmed.substr(1, trimmed.rfind(']') - 1)));
    } else if (const auto equals = trimmed.find('='); equals != std::string_view::npos) {
        const std::string_view name = Trim(trimmed.substr(0, equals));
        if (!name.empty()) {
            line.kind = LineKind::Key;
            line.name = std::string(name);
        }
    }
    return line;
}

std::optional<std::size_t> ProfileFile::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == LineKind::Section && SameName(lines_[i].name, section))
            return i;
    }
    return std::nullopt;
}

std::size_t ProfileFile::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != LineKind::Section)
        ++i;
    return i;
}

std::optional<std::size_t> ProfileFile::FindKey(std::size_t header, std::string_view key) const {
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == LineKind::Key && SameName(lines_[i].name, key))
            return i;
    }
    return std::nullopt;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, std::size_t maxLength) const {
    std::string_view value = defaultValue;
    if (const auto header = FindSection(section)) {
        if (const auto index = FindKey(*header, key)) {
            const std::string& text = lines_[*index].text;
            value = DecodeValue(std::string_view(text).substr(text.find('=') + 1));
        }
    }
    return std::string(value.substr(0, maxLength));
}

bool ProfileFile::HasKey(std::string_view section, std::string_view key) const {
    const auto header = FindSection(section);
    return header && FindKey(*header, key);
}

void ProfileFile::InsertLine(std::size_t at, std::string text) {
    if (at == lines_.size() && !lines_.empty() && lines_.back().eol.empty())
        lines_.back().eol = eolStyle_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), MakeLine(std::move(text), eolStyle_));
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string encoded = EncodeValue(value);
    const auto header = FindSection(section);
    if (!header) {
        if (!lines_.empty() && lines_.back().kind != LineKind::Blank)
            InsertLine(lines_.size(), "");
        InsertLine(lines_.size(), "[" + std::string(section) + "]");
        InsertLine(lines_.size(), std::string(key) + "=" + encoded);
        return;
    }
    if (const auto index = FindKey(*header, key)) {
        Line& line = lines_[*index];
        line.text = line.name + "=" + encoded;
        return;
    }
    // Behind the section's last line that is not blank, so a blank line before the next
    // section stays where it is.
    std::size_t at = SectionEnd(*header);
    while (at > *header + 1 && lines_[at - 1].kind == LineKind::Blank)
        --at;
    InsertLine(at, std::string(key) + "=" + encoded);
}

void ProfileFile::DeleteKey(std::string_view section, std::string_view key) {
    const auto header = FindSection(section);
    if (!header)
        return;
    if (const auto index = FindKey(*header, key))
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*index));
}

void ProfileFile::DeleteSection(std::string_view section) {
    while (const auto header = FindSection(section)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(*header)));
    }
}

std::string ProfileFile::Serialize() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.eol;
    }
    return out;
}

bool ProfileFile::Commit() {
    lastError_ = 0;
    // A file that could not be read must not be replaced by what little we know of it.
    if (readError_ != 0) {
        lastError_ = readError_;
        return false;
    }
    std::string bytes = Serialize();
    if (existed_ ? bytes == original_ : lines_.empty())
        return true;
    ReplaceOptions options;
    options.newFileMode = newFileMode_;
    options.exactNewFileMode = true;
    options.keepOwner = true;
    options.keepWriteProtected = true;
    options.removeStaleTemporaries = true;
    options.writer = writer_;
    const int error = ReplaceWholeFile(path_, bytes, options);
    if (error != 0) {
        lastError_ = error;
        return false;
    }
    original_ = std::move(bytes);
    existed_ = true;
    return true;
}

} // namespace pelorix
