#include "platform/ProfileFile.h"

#include "platform/ProfileText.h"
#include "platform/Win32Errno.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <utility>

// On Windows the system's own profile calls read and write the file; they are what the file
// format was made for. The session keeps no copy of the file: reads go to the file each time,
// and the changes wait in lines_ until Commit hands them to the system, one Line per change in
// the order they were made:
//   kind Key      name = section, text = "key=value" (the value as it will stand in the file)
//   kind Other    name = section, text = key            (the key is removed)
//   kind Section  name = section                        (the section is removed)
// The writer hook and the new file's mode have no meaning here: the system writes the file,
// and the directory's access rights govern a new one.

namespace pelorix {

using namespace profile;

namespace {

// Two defaults no value in a file is: a read that gives back each of them found no key.
constexpr std::string_view kAbsent = "\x01<absent>\x02";
constexpr std::string_view kAbsentToo = "\x02<absent>\x01";

// A relative name would send the profile calls to the Windows directory.
std::string FullPath(const std::string& path) {
    const DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::string full(needed, '\0');
    const DWORD length = ::GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return path;
    full.resize(length);
    return full;
}

std::string ReadWithDefault(const std::string& path, const std::string& section, const std::string& key,
                            std::string_view defaultValue, std::size_t maxLength) {
    // Room for the default too, which must come back whole to be told apart from a value.
    const std::size_t size =
        std::max(std::min(maxLength, ProfileFile::kMaxFileSize), defaultValue.size()) + 1;
    std::string buffer(size, '\0');
    const DWORD length =
        ::GetPrivateProfileStringA(section.c_str(), key.c_str(), std::string(defaultValue).c_str(),
                                   buffer.data(), static_cast<DWORD>(size), path.c_str());
    buffer.resize(std::min<std::size_t>(length, size - 1));
    return buffer;
}

// The value in the file, or nothing when file, section or key is missing. The reading call
// hands back a default for a missing key (less its trailing blanks), so the value of a key is
// told apart by reading with two defaults.
std::optional<std::string> FileValue(const std::string& path, std::string_view section, std::string_view key,
                                     std::size_t maxLength) {
    const std::string sectionName(section);
    const std::string keyName(key);
    std::string value = ReadWithDefault(path, sectionName, keyName, kAbsent, maxLength);
    if (value != kAbsent || ReadWithDefault(path, sectionName, keyName, kAbsentToo, maxLength) != kAbsentToo)
        return value;
    return std::nullopt;
}

using HandleCloser = decltype(&::CloseHandle);

} // namespace

ProfileFile::ProfileFile(std::string path, FileWriter writer, mode_t newFileMode)
    : path_(FullPath(path)), writer_(std::move(writer)), newFileMode_(newFileMode) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            readError_ = ErrnoOfWin32Error(error);
        return;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        readError_ = EISDIR;
        return;
    }
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > kMaxFileSize) {
        readError_ = EFBIG;
        return;
    }
    // Whether the profile calls will be able to read it: open for reading as they do.
    const HANDLE opened =
        ::CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            readError_ = ErrnoOfWin32Error(error);
        return;
    }
    const std::unique_ptr<void, HandleCloser> file(opened, &::CloseHandle);
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        readError_ = EINVAL;
        return;
    }
    existed_ = true;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, std::size_t maxLength) const {
    std::string_view value = defaultValue;
    std::optional<std::string> stored;
    // The newest change to the key that is not yet in the file decides, else the file.
    const auto change = std::find_if(lines_.rbegin(), lines_.rend(), [&](const Line& line) {
        return SameName(line.name, section) &&
               (line.kind == LineKind::Section ||
                SameName(line.kind == LineKind::Key ? line.text.substr(0, line.text.find('=')) : line.text,
                         key));
    });
    if (change != lines_.rend()) {
        if (change->kind == LineKind::Key)
            value = DecodeValue(std::string_view(change->text).substr(change->text.find('=') + 1));
    } else if (readError_ == 0 && existed_) {
        stored = FileValue(path_, section, key, maxLength);
        if (stored)
            value = *stored;
    }
    return std::string(value.substr(0, maxLength));
}

bool ProfileFile::HasKey(std::string_view section, std::string_view key) const {
    return ReadString(section, key, kAbsent, kAbsent.size()) != kAbsent ||
           ReadString(section, key, kAbsentToo, kAbsentToo.size()) != kAbsentToo;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    lines_.push_back(Line{std::string(key) + "=" + EncodeValue(value), std::string(), LineKind::Key,
                          std::string(section)});
}

void ProfileFile::DeleteKey(std::string_view section, std::string_view key) {
    lines_.push_back(Line{std::string(key), std::string(), LineKind::Other, std::string(section)});
}

void ProfileFile::DeleteSection(std::string_view section) {
    lines_.push_back(Line{std::string(), std::string(), LineKind::Section, std::string(section)});
}

bool ProfileFile::Commit() {
    lastError_ = 0;
    // A file that could not be read must not be written by what little we know of it.
    if (readError_ != 0) {
        lastError_ = readError_;
        return false;
    }
    if (lines_.empty())
        return true;
    // The writing call would rewrite a write-protected file where it may; it stays as it is.
    const DWORD attributes = ::GetFileAttributesA(path_.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        lastError_ = EACCES;
        return false;
    }
    std::size_t applied = 0;
    for (; applied < lines_.size(); ++applied) {
        const Line& change = lines_[applied];
        // Removing from a file that is not there would create it empty.
        if (change.kind != LineKind::Key && ::GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        BOOL written = FALSE;
        ::SetLastError(ERROR_SUCCESS);
        if (change.kind == LineKind::Key) {
            const auto equals = change.text.find('=');
            written = ::WritePrivateProfileStringA(change.name.c_str(), change.text.substr(0, equals).c_str(),
                                                   change.text.c_str() + equals + 1, path_.c_str());
        } else {
            written = ::WritePrivateProfileStringA(
                change.name.c_str(), change.kind == LineKind::Other ? change.text.c_str() : nullptr, nullptr,
                path_.c_str());
        }
        if (!written) {
            const DWORD error = ::GetLastError();
            lastError_ = error == ERROR_SUCCESS ? EIO : ErrnoOfWin32Error(error);
            break;
        }
    }
    // What reached the file is no longer pending; the rest waits for another Commit.
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(applied));
    if (lastError_ != 0)
        return false;
    existed_ = existed_ || ::GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES;
    return true;
}

} // namespace pelorix
