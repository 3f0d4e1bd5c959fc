// The real PelorixSvc and the manager's monitor port: one connection per worker line, the
// line with CR LF in Latin-1, and the stop line sent by the control thread.

#include "SvcProcess.h"

#include "base/Latin1.h"
#include "common/Config.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>

namespace pelorix::test {
namespace {

// Stands in for the manager's monitor: accepts on 127.0.0.1:60123 and keeps what each
// connection sent until it closed.
class MonitorListener {
public:
    MonitorListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(60123);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listening_ =
            ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd_, 8) == 0;
        if (listening_)
            thread_ = std::thread([this] { Serve(); });
    }
    ~MonitorListener() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }
    bool Listening() const { return listening_; }

    bool WaitForConnections(std::size_t count, int timeoutMs = 5000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return received_.size() >= count; });
    }
    std::vector<std::string> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::string data;
            char buffer[512];
            for (;;) {
                pollfd c{client, POLLIN, 0};
                if (::poll(&c, 1, 2000) <= 0)
                    break;
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                data.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(client);
            std::lock_guard lock(mutex_);
            received_.push_back(data);
            changed_.notify_all();
        }
    }

    int fd_ = -1;
    bool listening_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> received_;
};

TEST(PelorixSvcNetTest, WorkerLinesReachTheMonitorOneConnectionEachAndTheLogInOrder) {
    MonitorListener monitor;
    ASSERT_TRUE(monitor.Listening());
    TempDir dir;
    const std::string program = InstallService(
        dir, "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=" + ScramblePassword("geheim") +
                 "\r\nMessages=1\r\nMsgLevel=4\r\nLogFile=1\r\n");
    const std::string header = TodayHeader();
    ServerProcess svc({program, "-foreground"}, dir.File("stderr.txt"));
    ASSERT_TRUE(monitor.WaitForConnections(1));
    const std::string first = monitor.Received()[0];
    EXPECT_TRUE(IsTimeStamp(first)) << first;
    EXPECT_EQ(first.substr(11), "+ServiceThread übernimmt\r\n"_l1);

    svc.Signal(SIGTERM);
    EXPECT_EQ(svc.Wait(1000), 0);
    ASSERT_TRUE(monitor.WaitForConnections(2));
    const auto received = monitor.Received();
    ASSERT_EQ(received.size(), 2u) << "the module's own lines never reach the monitor";
    EXPECT_TRUE(IsTimeStamp(received[1]));
    EXPECT_EQ(received[1].substr(11), "-Thread-Ende angefordert\r\n");
    EXPECT_TRUE(LogIs(dir.Read("Pelorix.log"), header,
                      {"+Service gestartet *", "+ServiceThread erzeugt", "+ServiceThread übernimmt"_l1,
                       "-Thread-Ende angefordert", "-Service beendet *"}));
}

TEST(PelorixSvcNetTest, MonitorOffMakesNoConnection) {
    MonitorListener monitor;
    ASSERT_TRUE(monitor.Listening());
    TempDir dir;
    const std::string program = InstallService(
        dir, "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=" + ScramblePassword("geheim") +
                 "\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n");
    ServerProcess svc({program, "-foreground"}, dir.File("stderr.txt"));
    ASSERT_TRUE(WaitForText(dir, "Pelorix.log", "+ServiceThread erzeugt"));
    svc.Signal(SIGTERM);
    EXPECT_EQ(svc.Wait(1000), 0);
    EXPECT_FALSE(monitor.WaitForConnections(1, 200));
}

} // namespace
} // namespace pelorix::test
