#include "platform/ProfileFile.h"
#include "platform/SystemMessage.h"

#include "TempDir.h"
#include "base/Latin1.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace pelorix;
using namespace std::string_literals;
using pelorix::test::TempDir;

namespace {

constexpr std::size_t kMax = 2047;

std::string Read(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view def = "<def>", std::size_t max = kMax) {
    return ReadProfileText(path, section, key, def, max);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

ino_t InodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_ino;
}

std::size_t EntriesIn(const std::string& dir) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
        ++count;
    return count;
}

} // namespace

TEST(ProfileFile, MissingFileSectionOrKeyGiveTheDefaultCutToLength) {
    TempDir dir;
    const std::string path = dir.File("x.ini");
    EXPECT_EQ(Read(path, "S", "K"), "<def>");
    EXPECT_EQ(Read(path, "S", "K", "abcdef", 3), "abc");
    EXPECT_FALSE(dir.Exists("x.ini"));

    dir.Write("x.ini", "[S]\r\nK=0123456789\r\n");
    EXPECT_EQ(Read(path, "T", "K"), "<def>");
    EXPECT_EQ(Read(path, "S", "L"), "<def>");
    EXPECT_EQ(Read(path, "S", "K", "", 4), "0123");
    EXPECT_EQ(Read(path, "S", "K", "", 10), "0123456789");
}

TEST(ProfileFile, ReadsAFileEditedByHand) {
    TempDir dir;
    dir.Write("x.ini", "key=outside any section\n"
                       "; a comment\n"
                       "  [ settings ]   \n"
                       "\tHtmlTemplate   =   C:\\x y.htm  \t\n"
                       "quoted=\"  padded  \"\n"
                       "single=' a '\n"
                       "unmatched=\"abc'\n"
                       "lonequote=\"\n"
                       "empty=\n"
                       "novalue\n"
                       "; Commented=1\n"
                       "Dup=first\n"
                       "DUP=second\n"
                       "eq=a=b\n"
                       "[broken\n"
                       "after=still settings\n"
                       "[Settings]\n"
                       "Second=section ignored\n");
    const std::string path = dir.File("x.ini");
    EXPECT_EQ(Read(path, "SETTINGS", "htmltemplate"), "C:\\x y.htm");
    EXPECT_EQ(Read(path, "Settings", "quoted"), "  padded  ");
    EXPECT_EQ(Read(path, "Settings", "single"), " a ");
    EXPECT_EQ(Read(path, "Settings", "unmatched"), "\"abc'");
    EXPECT_EQ(Read(path, "Settings", "lonequote"), "\"");
    EXPECT_EQ(Read(path, "Settings", "empty"), "");
    EXPECT_EQ(Read(path, "Settings", "novalue"), "<def>");
    EXPECT_EQ(Read(path, "Settings", "Commented"), "<def>");
    EXPECT_EQ(Read(path, "Settings", "dup"), "first");
    EXPECT_EQ(Read(path, "Settings", "eq"), "a=b");
    EXPECT_EQ(Read(path, "Settings", "after"), "still settings");
    EXPECT_EQ(Read(path, "Settings", "Second"), "<def>");
    EXPECT_EQ(Read(path, "Settings", "key"), "<def>");
    EXPECT_EQ(Read(path, "broken", "after"), "<def>");
}

TEST(ProfileFile, IgnoresLatin1LetterCaseAndAByteOrderMark) {
    TempDir dir;
    dir.Write("x.ini", "\xEF\xBB\xBF"s + "[Ä]\r\nSchlüssel=1\r\n"_l1);
    EXPECT_EQ(Read(dir.File("x.ini"), "ä"_l1, "SCHLÜSSEL"_l1), "1");
}

TEST(ProfileFile, WritesInPlaceAppendsToSectionAndFileAndKeepsTheRest) {
    TempDir dir;
    const std::string before = "; Pelorix settings, edited by hand\r\n"
                               "[Settings]\r\n"
                               "  FTPHOST = old.example  \r\n"
                               "; keep me\r\n"
                               "Other=1\r\n"
                               "\r\n"
                               "[Hosts]\r\n"
                               "FTPHost1=a\r\n";
    dir.Write("x.ini", before);
    ProfileFile file(dir.File("x.ini"));
    file.WriteString("settings", "ftphost", "new.example");
    file.WriteString("Settings", "Added", "2");
    file.WriteString("SendMail", "Server", "smtp");
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(dir.Read("x.ini"), "; Pelorix settings, edited by hand\r\n"
                                 "[Settings]\r\n"
                                 "FTPHOST=new.example\r\n"
                                 "; keep me\r\n"
                                 "Other=1\r\n"
                                 "Added=2\r\n"
                                 "\r\n"
                                 "[Hosts]\r\n"
                                 "FTPHost1=a\r\n"
                                 "\r\n"
                                 "[SendMail]\r\n"
                                 "Server=smtp\r\n");
}

TEST(ProfileFile, DeletesSectionsAndKeys) {
    TempDir dir;
    dir.Write("x.ini", "[A]\nk=1\n[Mail]\nCC=x\n; note\n\n[B]\nk=2\n[mail]\nBCC=y\n");
    ProfileFile file(dir.File("x.ini"));
    file.DeleteSection("MAIL");
    file.DeleteKey("B", "K");
    file.DeleteKey("B", "missing");
    file.DeleteKey("Missing", "k");
    EXPECT_FALSE(file.HasKey("Mail", "CC"));
    EXPECT_FALSE(file.HasKey("Mail", "BCC"));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(dir.Read("x.ini"), "[A]\nk=1\n[B]\n");

    EXPECT_EQ(WriteProfileText(dir.File("x.ini"), "A", std::nullopt, std::nullopt), 0);
    EXPECT_EQ(dir.Read("x.ini"), "[B]\n");
}

TEST(ProfileFile, FirstWriteCreatesAPrivateCrLfFile) {
    TempDir dir;
    EXPECT_EQ(WriteProfileText(dir.File("new.ini"), "Settings", "FTPPass", "secret"), 0);
    EXPECT_EQ(dir.Read("new.ini"), "[Settings]\r\nFTPPass=secret\r\n");
    EXPECT_EQ(ModeOf(dir.File("new.ini")), 0600u);
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(ProfileFile, ANewFileInAGroupSharedDirectoryIsSharedWithTheGroup) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 02770), 0);
    EXPECT_EQ(WriteProfileText(dir.File("new.ini"), "Settings", "FTPPass", "secret"), 0);
    EXPECT_EQ(ModeOf(dir.File("new.ini")), 0660u);
    ProfileFile readable(dir.File("other.ini"), {}, 0644);
    readable.WriteString("S", "K", "v");
    ASSERT_TRUE(readable.Commit());
    EXPECT_EQ(ModeOf(dir.File("other.ini")), 0664u);

    // A file that exists keeps its mode there as well.
    ::chmod(dir.File("new.ini").c_str(), 0600);
    EXPECT_EQ(WriteProfileText(dir.File("new.ini"), "Settings", "FTPUser", "me"), 0);
    EXPECT_EQ(ModeOf(dir.File("new.ini")), 0600u);
}

TEST(ProfileFile, KeepsTheModeAndLineEndsOfAnExistingFile) {
    TempDir dir;
    dir.Write("lf.ini", "[S]\nA=1\n\n[T]\nB=2");
    ::chmod(dir.File("lf.ini").c_str(), 0640);
    EXPECT_EQ(WriteProfileText(dir.File("lf.ini"), "S", "C", "3"), 0);
    EXPECT_EQ(WriteProfileText(dir.File("lf.ini"), "T", "D", "4"), 0);
    EXPECT_EQ(WriteProfileText(dir.File("lf.ini"), "U", "E", "5"), 0);
    EXPECT_EQ(dir.Read("lf.ini"), "[S]\nA=1\nC=3\n\n[T]\nB=2\nD=4\n\n[U]\nE=5\n");
    EXPECT_EQ(ModeOf(dir.File("lf.ini")), 0640u);

    // Only the lines written take the file's style; a stray line end of the other kind stays.
    dir.Write("mixed.ini", "[S]\r\nA=1\nB=2\r\n");
    EXPECT_EQ(WriteProfileText(dir.File("mixed.ini"), "S", "C", "3"), 0);
    EXPECT_EQ(dir.Read("mixed.ini"), "[S]\r\nA=1\nB=2\r\nC=3\r\n");
}

TEST(ProfileFile, EveryValueReadsBackAsWritten) {
    TempDir dir;
    const std::vector<std::string> values = {"",      " lead",     "trail\t",  "\"quoted\"", "'single'",
                                             "\"",    "'",         "a\"b",     "= ; [x]",    "  ",
                                             "\"a' ", "x\xFF\xE4", "semi;col", "[Section]",  "\"\""};
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(WriteProfileText(dir.File("x.ini"), "S", "K" + std::to_string(i), values[i]), 0);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(Read(dir.File("x.ini"), "S", "K" + std::to_string(i)), values[i]) << i;
}

TEST(ProfileFile, ALineBreakInAValueCannotAddKeys) {
    TempDir dir;
    ASSERT_EQ(WriteProfileText(dir.File("x.ini"), "S", "Text", "a\r\n[S]\nFTPHost=evil\rb"), 0);
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "FTPHost"), "<def>");
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "Text"), "a  [S] FTPHost=evil b");
}

TEST(ProfileFile, SessionSeesItsOwnWritesAndSkipsAnUnchangedFile) {
    TempDir dir;
    dir.Write("x.ini", "[S]\r\nA=1\r\n");
    const ino_t before = InodeOf(dir.File("x.ini"));
    {
        ProfileFile file(dir.File("x.ini"));
        file.WriteString("S", "A", "1");
        ASSERT_TRUE(file.Commit());
    }
    EXPECT_EQ(InodeOf(dir.File("x.ini")), before);

    ProfileFile file(dir.File("x.ini"));
    file.WriteString("S", "A", "2");
    file.WriteString("S", "B", "3");
    EXPECT_EQ(file.ReadString("s", "a", "", kMax), "2");
    EXPECT_EQ(dir.Read("x.ini"), "[S]\r\nA=1\r\n");
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(dir.Read("x.ini"), "[S]\r\nA=2\r\nB=3\r\n");

    ProfileFile nothing(dir.File("none.ini"));
    nothing.DeleteSection("S");
    EXPECT_TRUE(nothing.Commit());
    EXPECT_FALSE(dir.Exists("none.ini"));
}

TEST(ProfileFile, AnInterruptedWriteLeavesTheOldFileByteIdentical) {
    TempDir dir;
    const std::string old = "; hand made\n[Settings]\nFTPHost=keep.example\n";
    dir.Write("x.ini", old);
    // Half the bytes reach the temporary file, then the disk is full.
    const FileWriter fullDisk = [](int fd, std::string_view bytes) {
        WriteAllBytes(fd, bytes.substr(0, bytes.size() / 2));
        return ENOSPC;
    };
    ProfileFile file(dir.File("x.ini"), fullDisk);
    file.WriteString("Settings", "FTPHost", "lost.example");
    file.WriteString("Settings", "FTPUser", "lost");
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(file.LastError(), ENOSPC);
    EXPECT_EQ(dir.Read("x.ini"), old);
    EXPECT_EQ(EntriesIn(dir.Path()), 1u) << "the temporary file is removed";

    // A first write that fails creates nothing.
    ProfileFile fresh(dir.File("new.ini"), fullDisk);
    fresh.WriteString("S", "K", "v");
    EXPECT_FALSE(fresh.Commit());
    EXPECT_FALSE(dir.Exists("new.ini"));
}

TEST(ProfileFile, ADirectoryInPlaceOfTheFileGivesDefaultsAndAFailedWrite) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("x.ini"));
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "K"), "<def>");
    EXPECT_EQ(WriteProfileText(dir.File("x.ini"), "S", "K", "v"), EISDIR);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("x.ini")));
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(ProfileFile, AFifoInPlaceOfTheFileNeitherBlocksNorIsReplaced) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("x.ini").c_str(), 0600), 0);
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "K"), "<def>");
    EXPECT_EQ(WriteProfileText(dir.File("x.ini"), "S", "K", "v"), EINVAL);
    EXPECT_FALSE(std::filesystem::is_regular_file(dir.File("x.ini")));
}

TEST(ProfileFile, AnUnusablePathGivesDefaultsAndAFailedWrite) {
    TempDir dir;
    dir.Write("plain", "x");
    EXPECT_EQ(Read(dir.File("plain/x.ini"), "S", "K"), "<def>");
    EXPECT_EQ(WriteProfileText(dir.File("plain/x.ini"), "S", "K", "v"), ENOTDIR);
    EXPECT_EQ(WriteProfileText(dir.File("missing/x.ini"), "S", "K", "v"), ENOENT);
}

TEST(ProfileFile, AWriteProtectedFileStaysUnchanged) {
    TempDir dir;
    dir.Write("x.ini", "[S]\nK=old\n");
    ::chmod(dir.File("x.ini").c_str(), 0444);
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "K"), "old");
    EXPECT_EQ(WriteProfileText(dir.File("x.ini"), "S", "K", "new"), EACCES);
    EXPECT_EQ(dir.Read("x.ini"), "[S]\nK=old\n");
}

TEST(ProfileFile, AnUnreadableFileIsNeverReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    TempDir dir;
    dir.Write("x.ini", "[S]\nK=old\nL=2\n");
    ::chmod(dir.File("x.ini").c_str(), 0200);
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "K"), "<def>");
    EXPECT_EQ(WriteProfileText(dir.File("x.ini"), "S", "K", "new"), EACCES);
    ::chmod(dir.File("x.ini").c_str(), 0600);
    EXPECT_EQ(dir.Read("x.ini"), "[S]\nK=old\nL=2\n");
}

// A save killed before its rename leaves its temporary file; the next save clears out old ones.
TEST(ProfileFile, TemporaryFilesOlderThanAnHourGoAtTheNextSave) {
    TempDir dir;
    const auto age = [&](const std::string& name, int seconds) {
        dir.Write(name, "x");
        struct stat st {};
        ::stat(dir.File(name).c_str(), &st);
        const timespec times[2] = {{st.st_mtime - seconds, 0}, {st.st_mtime - seconds, 0}};
        ::utimensat(AT_FDCWD, dir.File(name).c_str(), times, 0);
    };
    age(".x.ini.4711-0.tmp", 7200);
    age(".x.ini.4712-3.tmp", 60);
    age(".y.ini.4711-0.tmp", 7200);
    age(".x.ini.keep.tmp", 7200);
    ProfileFile file(dir.File("x.ini"));
    file.WriteString("S", "k", "v");
    ASSERT_TRUE(file.Commit());
    EXPECT_FALSE(dir.Exists(".x.ini.4711-0.tmp"));
    EXPECT_TRUE(dir.Exists(".x.ini.4712-3.tmp")) << "perhaps a save under way";
    EXPECT_TRUE(dir.Exists(".y.ini.4711-0.tmp")) << "another file's";
    EXPECT_TRUE(dir.Exists(".x.ini.keep.tmp")) << "not ours";
}

TEST(ProfileFile, WritesThroughASymbolicLink) {
    TempDir dir;
    dir.Write("real.ini", "[S]\nK=1\n");
    std::filesystem::create_symlink(dir.File("real.ini"), dir.File("link.ini"));
    EXPECT_EQ(WriteProfileText(dir.File("link.ini"), "S", "K", "2"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.ini")));
    EXPECT_EQ(dir.Read("real.ini"), "[S]\nK=2\n");
}

TEST(ProfileFile, SurvivesBinaryBytesAndAHugeLine) {
    TempDir dir;
    const std::string huge(1024 * 1024, 'x');
    const std::string bytes = "[S]\n\x01\x02\xFF=\0\x7F\n"s + huge + "\nK=" + huge + "\n[\n=\n";
    dir.Write("x.ini", bytes);
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "K"), std::string(kMax, 'x'));
    EXPECT_EQ(Read(dir.File("x.ini"), "S", "\x01\x02\xFF"), "\0\x7F"s);
    EXPECT_EQ(WriteProfileText(dir.File("x.ini"), "S", "New", "1"), 0);
    EXPECT_EQ(dir.Read("x.ini"), bytes + "New=1\n");
}

TEST(ProfileFile, RandomFilesNeverCrashAndWritesReadBack) {
    TempDir dir;
    std::mt19937 random(4711);
    const std::string alphabet = "[]=;'\" \t\r\nSKsk\0\xFF"
                                 "ab"s;
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(random() % 200, '\0');
        for (char& c : bytes)
            c = random() % 4 == 0 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
        // A new file each round: emptying the last one would wait for the disk on a busy machine.
        const std::string name = "fuzz" + std::to_string(round) + ".ini";
        const std::string path = dir.File(name);
        dir.Write(name, bytes);
        ProfileFile file(path);
        (void)file.ReadString("S", "K", "", kMax);
        (void)file.ReadString("s", "k", "", kMax);
        const std::string value = bytes.substr(0, random() % 12);
        file.WriteString("S", "K", value);
        file.WriteString("T", "x", "1");
        std::string expected = value;
        for (char& c : expected) {
            if (c == '\r' || c == '\n')
                c = ' ';
        }
        ASSERT_EQ(file.ReadString("s", "k", "<none>", kMax), expected) << round;
        if (round % 50 == 0) {
            ASSERT_TRUE(file.Commit());
            ASSERT_EQ(Read(path, "S", "K"), expected) << round;
        }
    }
}

TEST(SystemMessage, GivesGermanTextsAndTheNumberOtherwise) {
    EXPECT_EQ(SystemErrorText(EACCES), "Zugriff verweigert.");
    EXPECT_EQ(SystemErrorText(EPERM), "Zugriff verweigert.");
    EXPECT_EQ(SystemErrorText(ENOSPC), "Auf dem Datenträger ist nicht genügend Speicherplatz vorhanden."_l1);
    for (const int code : {EROFS, ENOENT, EISDIR, EIO, ENOTDIR})
        EXPECT_FALSE(SystemErrorText(code).empty());
    EXPECT_NE(SystemErrorText(EROFS), SystemErrorText(EIO));
    EXPECT_EQ(SystemErrorText(9999), "Unbekannter Systemfehler (Fehlercode 9999).");
}

// Root (the manager run by root) in the data directory that members write: a link a member
// planted there is replaced, never followed, and what it points to is neither read nor
// written. The package's own link from the program directory is still followed.
TEST(ProfileFile, RootReplacesALinkAMemberPlantedInsteadOfFollowingIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "what root does";
    TempDir dir;
    const std::string secret = "[Settings]\nSecret=geheim\n";
    dir.Write("bashrc", secret);
    const std::string data = dir.File("data");
    ASSERT_EQ(::mkdir(data.c_str(), 02775), 0);
    ASSERT_EQ(::chown(data.c_str(), 0, 65534), 0);
    const std::string planted = data + "/Pelorix.ini";
    ASSERT_EQ(::symlink(dir.File("bashrc").c_str(), planted.c_str()), 0);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::mkdir(dir.File("opt").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(planted.c_str(), dir.File("opt/Pelorix.ini").c_str()), 0);

    for (const std::string& through : {planted, dir.File("opt/Pelorix.ini")}) {
        SCOPED_TRACE(through);
        ProfileFile file(through);
        EXPECT_EQ(file.ReadString("Settings", "Secret", "<none>", kMax), "<none>");
        file.WriteString("Settings", "Left", "10");
        EXPECT_TRUE(file.Commit()) << file.LastError();
        EXPECT_EQ(dir.Read("bashrc"), secret);
        EXPECT_FALSE(std::filesystem::is_symlink(planted));
        EXPECT_EQ(dir.Read("data/Pelorix.ini"), "[Settings]\r\nLeft=10\r\n");
        EXPECT_TRUE(std::filesystem::is_symlink(dir.File("opt/Pelorix.ini"))) << "the package's link stays";
        ::unlink(planted.c_str());
        ASSERT_EQ(::symlink(dir.File("bashrc").c_str(), planted.c_str()), 0);
        ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    }

    // Nor does root append to it, or read it as a template.
    EXPECT_NE(AppendWholeText(planted, "[Settings]\n", 0660), 0);
    std::string bytes;
    EXPECT_FALSE(ReadRegularFile(planted, 1000, bytes));
    EXPECT_EQ(dir.Read("bashrc"), secret);
}
