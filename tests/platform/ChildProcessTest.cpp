#include "platform/ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <unistd.h>

using pelorix::RunInChildProcess;

namespace {
int gTouchedByWork = 0;
}

TEST(ChildProcess, AnswerComesBackWhileTheWorkStaysInTheChild) {
    const auto answer = RunInChildProcess([] {
        gTouchedByWork = 42;
        return std::string("a\0b", 3) + std::to_string(getpid());
    });
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->substr(0, 3), std::string("a\0b", 3));
    EXPECT_NE(answer->substr(3), std::to_string(getpid()));
    EXPECT_EQ(gTouchedByWork, 0);
    const auto empty = RunInChildProcess([] { return std::string(); });
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST(ChildProcess, AChildThatDiesOrThrowsGivesNoAnswer) {
    EXPECT_FALSE(RunInChildProcess([]() -> std::string {
        raise(SIGKILL);
        return "never";
    }));
    EXPECT_FALSE(RunInChildProcess([]() -> std::string { throw 1; }));
}
