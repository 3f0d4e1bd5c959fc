// Lines on standard error reach a file in the console's code page, so "type" in that console
// shows the umlauts, never UTF-8 ("Ã¼").

#include "platform/ConsoleText.h"
#include "TempDir.h"
#include "base/Latin1.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace pelorix {
namespace {

TEST(ConsoleTextTest, AFileGetsTheLineInTheConsolesCodePage) {
    test::TempDir dir;
    const HANDLE file = ::CreateFileA(dir.File("err.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const HANDLE before = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_ERROR_HANDLE, file);
    WriteStandardText(StandardStream::Error, "+Prüfung bestanden\n"_l1);
    ::SetStdHandle(STD_ERROR_HANDLE, before);
    ::CloseHandle(file);

    const std::string bytes = dir.Read("err.txt");
    const UINT console = ::GetConsoleOutputCP();
    const UINT page = console != 0 ? console : ::GetACP();
    wchar_t wide[64] = {};
    const int length = ::MultiByteToWideChar(page, 0, bytes.data(), static_cast<int>(bytes.size()), wide, 64);
    EXPECT_EQ(std::wstring(wide, static_cast<std::size_t>(length)), L"+Pr\u00fcfung bestanden\r\n")
        << "code page " << page;
    EXPECT_EQ(bytes.find("\xc3\xbc"), std::string::npos) << "not UTF-8";
}

} // namespace
} // namespace pelorix
