// The real PelorixSvc as systemd runs it (pelorix.service: "-foreground" with NOTIFY_SOCKET):
// it tells systemd when it is ready and each change of its state, which the control layer
// reads back; a test socket in the abstract namespace stands in for systemd's.

#include "SvcProcess.h"

#include "common/Config.h"
#include "platform/FileDescriptor.h"
#include "platform/SystemNotify.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace pelorix::test {
namespace {

// A datagram socket bound in the abstract namespace, named in NOTIFY_SOCKET while it lives.
class NotifyListener {
public:
    NotifyListener() : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const std::string name = "@pelorix-notify-test-" + std::to_string(::getpid());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data() + 1, name.size() - 1);
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        bound_ = ::bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&address), size) == 0;
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
    }
    ~NotifyListener() { ::unsetenv("NOTIFY_SOCKET"); }

    bool Bound() const { return bound_; }

    // The next message, or empty after timeoutMs.
    std::string Next(int timeoutMs = 5000) const {
        pollfd event{fd_.Get(), POLLIN, 0};
        if (::poll(&event, 1, timeoutMs) != 1)
            return {};
        char buffer[4096];
        const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

private:
    Fd fd_;
    bool bound_ = false;
};

TEST(ServiceNotifyTest, TellsReadinessPauseContinueAndStopInItsStatus) {
    TempDir dir;
    const std::string program = InstallService(
        dir, "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=" + ScramblePassword("geheim") +
                 "\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n");
    const NotifyListener systemd;
    ASSERT_TRUE(systemd.Bound());
    ServerProcess svc({program, "-foreground"}, dir.File("stderr.txt"));
    EXPECT_EQ(systemd.Next(), "READY=1\nSTATUS=Läuft");
    svc.Signal(SIGUSR1);
    EXPECT_EQ(systemd.Next(), "READY=1\nSTATUS=Angehalten");
    EXPECT_TRUE(WaitForText(dir, "Pelorix.log", "-Service angehalten *"));
    svc.Signal(SIGUSR2);
    EXPECT_EQ(systemd.Next(), "READY=1\nSTATUS=Läuft");
    svc.Signal(SIGTERM);
    EXPECT_EQ(systemd.Next(), "STOPPING=1\nSTATUS=Wird beendet");
    EXPECT_EQ(svc.Wait(2000), 0);
    // The status lines reach the journal through standard error, in UTF-8.
    EXPECT_NE(dir.Read("stderr.txt").find("] +Service fortgesetzt *\n"), std::string::npos);
}

TEST(ServiceNotifyTest, NothingIsSentWithoutTheVariableOrToAMissingSocket) {
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(SystemNotifyWanted());
    EXPECT_FALSE(NotifySystem("READY=1"));
    ::setenv("NOTIFY_SOCKET", "/nonexistent/notify", 1);
    EXPECT_TRUE(SystemNotifyWanted());
    EXPECT_FALSE(NotifySystem("READY=1"));
    ::setenv("NOTIFY_SOCKET", "relative", 1);
    EXPECT_FALSE(SystemNotifyWanted());
    ::unsetenv("NOTIFY_SOCKET");
}

} // namespace
} // namespace pelorix::test
