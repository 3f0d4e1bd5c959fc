// The log file on a disk that runs full and frees up again, and the mode of a new log.

#include "svc/StatusLog.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

namespace pelorix {
namespace {

using test::TempDir;

// A small tmpfs over a fresh directory for one test; needs the right to mount.
class SmallDisk {
public:
    SmallDisk() { mounted_ = ::mount("tmpfs", dir_.Path().c_str(), "tmpfs", 0, "size=64k") == 0; }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(dir_.Path().c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    const TempDir& Dir() const { return dir_; }

    // Takes every free block.
    void Fill() const {
        const int fd = ::open(dir_.File("filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        const std::string byte(1, 'f');
        while (::write(fd, byte.data(), 1) > 0) {
        }
        ::close(fd);
    }
    void Free() const { ::unlink(dir_.File("filler").c_str()); }

private:
    TempDir dir_;
    bool mounted_ = false;
};

std::vector<std::string> Records(const std::string& log) {
    std::vector<std::string> records;
    for (std::size_t at = log.find("\r\n"); at != std::string::npos;) {
        const std::size_t next = log.find("\r\n", at + 2);
        records.push_back(log.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2));
        at = next;
    }
    return records;
}

TEST(StatusLogTest, FullDiskLeavesOnlyWholeRecordsEachOnceAndInOrder) {
    SmallDisk disk;
    if (!disk.Mounted())
        GTEST_SKIP() << "no right to mount a tmpfs";
    const std::string dir = disk.Dir().Path();
    std::string moduleBuffer = "\r\n#08.12.26#\r\n[04:19:27] +Service gestartet *";
    ASSERT_TRUE(FlushToLogFile(dir, moduleBuffer));
    disk.Fill(); // the log's one block has room for a few records only

    std::vector<std::string> expected{"#08.12.26#", "[04:19:27] +Service gestartet *"};
    testing::internal::CaptureStderr();
    int next = 0;
    for (int flush = 0; flush < 4; ++flush) {
        std::string buffer;
        for (int i = 0; i < 100; ++i, ++next) {
            const std::string record = "[04:19:28] +Adressquelle wird kontaktiert " + std::to_string(next);
            buffer += "\r\n" + record;
            expected.push_back(record);
        }
        EXPECT_FALSE(FlushToLogFile(dir, buffer));
        EXPECT_EQ(buffer, "") << "handed over";
        const std::vector<std::string> now = Records(disk.Dir().Read("Pelorix.log"));
        EXPECT_EQ(now.size(), 2u) << "a failed append is taken back whole";
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("Pelorix-Protokoll"), said.rfind("Pelorix-Protokoll")) << "said once: " << said;
    EXPECT_NE(said.find("kann nicht geschrieben werden"), std::string::npos) << said;

    disk.Free();
    std::string last = "\r\n[04:19:40] -Service beendet *";
    expected.push_back("[04:19:40] -Service beendet *");
    EXPECT_TRUE(FlushToLogFile(dir, last));
    const std::vector<std::string> records = Records(disk.Dir().Read("Pelorix.log"));
    EXPECT_EQ(records, expected);
    EXPECT_EQ(std::set<std::string>(records.begin(), records.end()).size(), records.size())
        << "no duplicates";
}

TEST(StatusLogTest, NewLogIsGroupWritableWhateverTheUmask) {
    TempDir dir;
    const mode_t old = ::umask(022);
    EXPECT_TRUE(AppendToLogFile(dir.Path(), "\r\n#08.12.26#"));
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("Pelorix.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

} // namespace
} // namespace pelorix
