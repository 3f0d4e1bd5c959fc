#pragma once
// Profile (INI) file access, standing in for GetPrivateProfileStringA and
// WritePrivateProfileStringA. Users edit the file by hand and both programs share it, so the
// reader is forgiving (letter case, blanks, quotes, comments, stray lines) and the writer
// changes only the lines it has to and replaces the file in one rename, never in place.
//
// A ProfileFile is one session on one file: it reads the file when created, answers reads and
// takes writes in memory, and Commit puts all changes on disk at once. Owned by the caller for
// one operation; not shared between threads.

#include "platform/FileReplace.h"

#include <cerrno>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace pelorix {

class ProfileFile {
public:
    // A file bigger than this is not taken for a profile file (reads give defaults, commit fails).
    static constexpr std::size_t kMaxFileSize = 16u * 1024u * 1024u;

    // Reads path (system text, as the Windows calls take it) at once. newFileMode is the mode of a file that
    // Commit creates (in a setgid directory the group gets the owner's rights as well); an existing file
    // keeps its mode.
    explicit ProfileFile(std::string path, FileWriter writer = {}, mode_t newFileMode = 0600);

    // The value of key in section, without surrounding blanks and one pair of matching quotes,
    // cut to maxLength characters; defaultValue (cut the same way) when file, section or key is
    // missing.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue,
                           std::size_t maxLength) const;
    bool HasKey(std::string_view section, std::string_view key) const;

    // Sets key in section: an existing line keeps its place, a new key goes to the end of its
    // section, a new section to the end of the file.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void DeleteKey(std::string_view section, std::string_view key);
    // Removes every section of that name with all its lines.
    void DeleteSection(std::string_view section);

    // Writes the changed contents to a temporary file in the same directory, flushes it to disk
    // and renames it over the file. Nothing to do when nothing changed. On failure the file is
    // as it was and LastError() holds the errno.
    bool Commit();
    int LastError() const { return lastError_; }

    // Whether the file could be read (a missing file counts as readable and empty).
    bool Readable() const { return readError_ == 0; }
    // Why it could not be read, ENOENT for a missing file; 0 when it was read.
    int ReadError() const { return readError_ != 0 ? readError_ : existed_ ? 0 : ENOENT; }

private:
    enum class LineKind { Other, Blank, Comment, Section, Key };
    struct Line {
        std::string text; // the line without its line end
        std::string eol;  // "\r\n", "\n" or "" for a last line without one
        LineKind kind = LineKind::Other;
        std::string name; // section or key name as written, trimmed
    };

    void Load();
    void Parse(std::string_view bytes);
    static Line MakeLine(std::string text, std::string eol);
    std::optional<std::size_t> FindSection(std::string_view section) const;
    std::size_t SectionEnd(std::size_t header) const;
    std::optional<std::size_t> FindKey(std::size_t header, std::string_view key) const;
    void InsertLine(std::size_t at, std::string text);
    std::string Serialize() const;

    std::string path_;
    FileWriter writer_;
    mode_t newFileMode_;
    std::vector<Line> lines_;
    std::string eolStyle_ = "\r\n";
    std::string original_;
    bool existed_ = false;
    int readError_ = 0;
    int lastError_ = 0;
};

// One-shot forms of the two Windows calls. A missing key name deletes the section, a missing
// value deletes the key. WriteProfileText returns 0 or the errno of the failure.
std::string ReadProfileText(const std::string& path, std::string_view section, std::string_view key,
                            std::string_view defaultValue, std::size_t maxLength);
int WriteProfileText(const std::string& path, std::string_view section, std::optional<std::string_view> key,
                     std::optional<std::string_view> value);

} // namespace pelorix
