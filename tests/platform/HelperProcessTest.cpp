#include "platform/HelperProcess.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sys/stat.h>

using namespace pelorix;
using namespace std::chrono_literals;

namespace {

// A stand-in helper program: a shell script that sees the helper's arguments and the request.
class HelperProcess : public testing::Test {
protected:
    void UseHelper(const std::string& script) {
        const std::string path = dir.File("helper.sh");
        std::ofstream(path) << "#!/bin/sh\n" << script << "\n";
        ::chmod(path.c_str(), 0700);
        SetHelperProgram(path);
    }
    void TearDown() override { SetHelperProgram("/proc/self/exe"); }
    pelorix::test::TempDir dir;
};

TEST_F(HelperProcess, TheRequestGoesInAndTheAnswerComesBack) {
    UseHelper(R"(test "$1" = --pelorix-helper && test "$3" = "$PPID" && printf '%s|' "$2" && cat)");
    const std::string request("a\0b\nc", 5);
    EXPECT_EQ(RunInHelperProcess("upload", request, 5s), "upload|" + request);
}

TEST_F(HelperProcess, AHelperThatFailsDiesOrHangsGivesNoAnswer) {
    UseHelper("cat >/dev/null; printf partial; exit 1");
    EXPECT_FALSE(RunInHelperProcess("upload", "x", 5s));
    UseHelper("cat >/dev/null; printf partial; kill -9 $$");
    EXPECT_FALSE(RunInHelperProcess("upload", "x", 5s));
    UseHelper("exec sleep 30");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(RunInHelperProcess("upload", "x", 300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    SetHelperProgram(dir.File("missing"));
    EXPECT_FALSE(RunInHelperProcess("upload", "x", 5s));
}

TEST(HelperFields, AnyBytesSurvivePackingAndBrokenInputIsRefused) {
    const std::vector<std::string> fields{"", "1:2", std::string("\0\xff", 2), std::string(70000, 'x')};
    EXPECT_EQ(UnpackFields(PackFields(fields)), fields);
    EXPECT_EQ(UnpackFields(""), std::vector<std::string>{});
    for (const char* broken : {"5:abc", "x:abc", ":", "3abc", "-1:a", "99999999999999999999:a"})
        EXPECT_FALSE(UnpackFields(broken)) << broken;
}

} // namespace
