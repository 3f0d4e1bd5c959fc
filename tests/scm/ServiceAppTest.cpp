// The platform's service dispatcher: which control requests fit which state, and the switches.

#include "scm/ServiceApp.h"

#include <gtest/gtest.h>

#include <string>

namespace pelorix {
namespace {

class RecordingHandlers final : public IServiceHandlers {
public:
    bool Start() override { return Record("start"); }
    bool Stop() override { return Record("stop"); }
    bool Pause() override { return Record("pause"); }
    bool Continue() override { return Record("continue"); }
    std::string calls;
    bool succeed = true;

private:
    bool Record(const char* name) {
        calls += std::string(name) + ";";
        return succeed;
    }
};

TEST(ServiceDispatcherTest, RequestsThatDoNotFitTheStateAreRefusedWithoutAHandler) {
    RecordingHandlers h;
    ServiceDispatcher d(h);
    EXPECT_FALSE(d.Control(ServiceControl::Pause));
    EXPECT_FALSE(d.Control(ServiceControl::Stop));
    EXPECT_TRUE(d.Control(ServiceControl::Start));
    EXPECT_EQ(d.State(), ServiceState::Running);
    EXPECT_FALSE(d.Control(ServiceControl::Start));
    EXPECT_FALSE(d.Control(ServiceControl::Continue));
    EXPECT_TRUE(d.Control(ServiceControl::Pause));
    EXPECT_EQ(d.State(), ServiceState::Paused);
    EXPECT_FALSE(d.Control(ServiceControl::Pause));
    EXPECT_TRUE(d.Control(ServiceControl::Continue));
    EXPECT_TRUE(d.Control(ServiceControl::Pause));
    EXPECT_TRUE(d.Control(ServiceControl::Stop)); // stop while paused
    EXPECT_EQ(d.State(), ServiceState::Stopped);
    EXPECT_FALSE(d.Control(ServiceControl::Start)) << "one start per process";
    EXPECT_EQ(h.calls, "start;pause;continue;pause;stop;");
}

TEST(ServiceDispatcherTest, FailingHandlerLeavesTheState) {
    RecordingHandlers h;
    ServiceDispatcher d(h);
    h.succeed = false;
    EXPECT_FALSE(d.Control(ServiceControl::Start));
    EXPECT_EQ(d.State(), ServiceState::Stopped);
    h.succeed = true;
    EXPECT_TRUE(d.Control(ServiceControl::Start));
    h.succeed = false;
    EXPECT_FALSE(d.Control(ServiceControl::Pause));
    EXPECT_EQ(d.State(), ServiceState::Running);
}

TEST(ServiceAppTest, SwitchesTakeSlashOrDashAndAnyLetterCase) {
    EXPECT_TRUE(IsSwitch("-foreground", "foreground"));
    EXPECT_TRUE(IsSwitch("/FOREGROUND", "foreground"));
    EXPECT_TRUE(IsSwitch("-ForeGround", "FOREGROUND"));
    EXPECT_FALSE(IsSwitch("foreground", "foreground"));
    EXPECT_FALSE(IsSwitch("--foreground", "foreground"));
    EXPECT_FALSE(IsSwitch("-foregroundx", "foreground"));
    EXPECT_FALSE(IsSwitch("-", "foreground"));
    EXPECT_FALSE(IsSwitch("", "foreground"));
}

TEST(ServiceAppTest, UnknownOrMissingSwitchEndsWithoutStarting) {
    RecordingHandlers h;
    char prog[] = "PelorixSvc";
    char bad[] = "-bogus";
    char* withBad[] = {prog, bad, nullptr};
    char* none[] = {prog, nullptr};
    EXPECT_EQ(RunServiceApp(2, withBad, h), 2);
    EXPECT_EQ(RunServiceApp(1, none, h), 2);
    EXPECT_EQ(h.calls, "");
}

} // namespace
} // namespace pelorix
