// An INI saved as UTF-8 with a byte-order mark (what editors write when asked for UTF-8) is read
// as UTF-8: its umlauts reach the program as the same characters as from an ANSI file.

#include "TempDir.h"
#include "base/Latin1.h"
#include "platform/ProfileFile.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(ProfileEncodingTest, AFileWithAByteOrderMarkIsReadAsUtf8) {
    test::TempDir dir;
    dir.Write("utf8.ini", "\xEF\xBB\xBF[Server]\r\nFTPSite=/Seiten/Prüfung.htm\r\n");
    dir.Write("ansi.ini", "[Server]\r\nFTPSite=" + "/Seiten/Prüfung.htm"_l1 + "\r\n");
    for (const char* name : {"utf8.ini", "ansi.ini"}) {
        const ProfileFile file(dir.File(name));
        EXPECT_EQ(file.ReadString("Server", "FTPSite", "", 255), "/Seiten/Prüfung.htm"_l1) << name;
    }
}

} // namespace
} // namespace pelorix
