// Direct mode on a line like DS-Lite: the service's side of a veth pair carries a stable global
// IPv6 address, the temporary one the kernel makes from it, a deprecated one, a unique local one,
// its link-local one and only a carrier-grade-NAT IPv4 address; the FTP server listens in a
// network namespace of its own on the far side. The real worker runs its cycle on a sleeper that
// never sleeps, reads the addresses from the kernel, probes and uploads for real.

#include "FtpTestServer.h"
#include "ServerProcess.h"
#include "StageTestKit.h"
#include "SvcFakes.h"
#include "TempDir.h"

#include "platform/HostAddresses.h"
#include "svc/AddressScan6.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <cstdlib>
#include <fstream>

namespace pelorix {
namespace {

using test::FtpTestServer;
using test::ServerProcess;
using test::TempDir;

constexpr const char* kStable = "2001:db8:1::10";
constexpr const char* kRenumbered = "2001:db8:2::10";

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

void WriteSysctl(const std::string& name, const std::string& value) {
    std::ofstream("/proc/sys/net/ipv6/conf/veth0/" + name) << value;
}

// The FTP server's side: a namespace of its own holding the far end of the pair.
class FarSide {
public:
    explicit FarSide(const TempDir& root)
        : process_({"/usr/bin/unshare", "-n", "/bin/sh", "-c",
                    "while ! ip link show veth1 >/dev/null 2>&1; do sleep 0.05; done; "
                    "ip link set lo up && ip link set veth1 up && ip addr add 100.64.12.1/24 dev veth1 && "
                    "ip -6 addr add 2001:db8:1::1/64 dev veth1 nodad && exec " +
                        std::string(test::SystemPython()) + " " +
                        test::SourcePath("tests/support/ftp_server.py") + " " + root.Path() + " 21 " +
                        FtpTestServer::kUser + " " + FtpTestServer::kPassword + " --bind 100.64.12.1"},
                   root.Path() + "far.log") {}
    int Pid() const { return process_.Pid(); }
    bool WaitForFtp() const { return process_.WaitForPort(21, 10000, "100.64.12.1"); }

private:
    ServerProcess process_;
};

class IPv6DirectNetTest : public ::testing::Test {
protected:
    // The far side's pid names its namespace only once unshare has run; a pair added before
    // that would land in this namespace, and the far side would wait for it for ever.
    bool FarSideHasItsOwnNetwork() const {
        std::error_code error;
        const auto own = std::filesystem::read_symlink("/proc/self/ns/net", error);
        for (int i = 0; i < 200; ++i) {
            const auto far =
                std::filesystem::read_symlink("/proc/" + std::to_string(far_.Pid()) + "/ns/net", error);
            if (!error && far != own)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return false;
    }

    void SetUp() override {
        ASSERT_TRUE(FarSideHasItsOwnNetwork());
        ASSERT_TRUE(Shell("ip link add veth0 type veth peer name veth1 netns " + std::to_string(far_.Pid())));
        WriteSysctl("accept_dad", "0");
        WriteSysctl("use_tempaddr", "2");
        ASSERT_TRUE(Shell("ip link set veth0 up && ip addr add 100.64.12.34/24 dev veth0 && "
                          "ip -6 addr add 2001:db8:1::10/64 dev veth0 mngtmpaddr && "
                          "ip -6 addr add 2001:db8:1::dead/64 dev veth0 preferred_lft 0 && "
                          "ip -6 addr add fd00:1::10/64 dev veth0 && "
                          "ip -6 route add default via 2001:db8:1::1 dev veth0"));
        ASSERT_TRUE(far_.WaitForFtp());

        kit_.service.FTPHost = "100.64.12.1";
        kit_.service.FTPUser = FtpTestServer::kUser;
        kit_.service.FTPPass = FtpTestServer::kPassword;
        kit_.service.FTPSite = "/index.htm";
        kit_.service.HTMLTemplate = local_.File("vorlage.htm");
        kit_.service.TempSite = local_.File("PelorTmp.htm");
        kit_.service.IntervalTicks = 0;
        local_.Write("vorlage.htm", "<p>%IP%</p><p>%IP6%</p>");
    }

    // Runs the cycle for the given number of ticks; between is called after each tick.
    void RunTicks(TPeloThread& worker, test::TickSleeper& sleeper, int count,
                  const std::function<void(int)>& between = {}) {
        sleeper.onTick = [&](int done) {
            if (between)
                between(done);
            if (done >= count)
                worker.Terminate();
        };
        worker.Execute();
    }

    std::string Published() const { return serverRoot_.Read("index.htm"); }

    TempDir serverRoot_;
    FarSide far_{serverRoot_};
    TempDir local_;
    test::StageKit kit_;
};

TEST_F(IPv6DirectNetTest, TheStableGlobalAddressIsPublishedAndANewPrefixReplacesIt) {
    const InterfaceAddresses6 listed = SystemHostAddresses::Instance().HostAddresses6("");
    EXPECT_EQ(listed.Interface, "veth0");
    bool temporary = false;
    for (const HostAddress6& address : listed.Addresses)
        temporary = temporary || address.Temporary;
    EXPECT_TRUE(temporary) << "the kernel made a temporary address";
    EXPECT_GE(listed.Addresses.size(), 5u);

    kit_.service.IPv6.Use = 1;
    test::TickSleeper sleeper;
    TPeloThread worker(kit_.service, kit_.clock, sleeper, SystemHostAddresses::Instance());
    worker.MsgLevel = 4;
    worker.LogToFile = true;
    kit_.service.ProgramDir = local_.Path();
    worker.ProgramDir = local_.Path();
    std::string firstPage;
    RunTicks(worker, sleeper, 3, [&](int done) {
        if (done == 1) {
            firstPage = Published();
            ASSERT_TRUE(Shell("ip -6 addr add 2001:db8:2::10/64 dev veth0 && "
                              "ip -6 addr change 2001:db8:1::10/64 dev veth0 preferred_lft 0"));
        }
    });
    EXPECT_EQ(firstPage, std::string("<p>100.64.12.34</p><p>") + kStable + "</p>\r\n");
    EXPECT_EQ(Published(), std::string("<p>100.64.12.34</p><p>") + kRenumbered + "</p>\r\n");
    const std::string log = local_.Read("Pelorix.log");
    EXPECT_NE(
        log.find("-IPv4-Adresse 100.64.12.34 ist nicht öffentlich (Carrier-Grade-NAT) - Routerbetrieb oder "
                 "IPv6 verwenden"_l1),
        std::string::npos)
        << log;
    EXPECT_NE(log.find(std::string("+IPv6-Adresse ermittelt als: ") + kRenumbered), std::string::npos) << log;
}

// A Pelorix.ini written before IPv6 existed: the pages come out as they always did.
TEST_F(IPv6DirectNetTest, AFileWithoutTheNewKeysPublishesAsBefore) {
    local_.Write("Pelorix.ini", "[Settings]\r\nFTPHost=100.64.12.1\r\nFTPUser=pelo\r\n");
    kit_.service.ApplySettings(ReadServiceSettings(local_.Path()));
    EXPECT_FALSE(kit_.service.IPv6.On());
    kit_.service.FTPPass = FtpTestServer::kPassword;
    kit_.service.FTPSite = "/index.htm";
    kit_.service.HTMLTemplate = local_.File("vorlage.htm");
    kit_.service.TempSite = local_.File("PelorTmp.htm");
    kit_.service.AddPages = true;
    kit_.service.AddPage[0] = local_.File("fehlt.htm");
    kit_.service.AddPage[5] = local_.File("zusatz.htm");
    kit_.service.AddPage[1] = local_.File("vorlage.htm");
    kit_.service.AddPage[6] = local_.File("zusatz2.htm");
    test::TickSleeper sleeper;
    TPeloThread worker(kit_.service, kit_.clock, sleeper, SystemHostAddresses::Instance());
    RunTicks(worker, sleeper, 1);
    EXPECT_EQ(Published(), "<p>100.64.12.34</p><p>%IP6%</p>\r\n");
    EXPECT_EQ(local_.Read("zusatz2.htm"), "<p>100.64.12.34</p><p>%IP6%</p>\r\n");

    // The built-in page, too, is the one of old.
    kit_.service.HTMLTemplate = local_.File("fehlt.htm");
    TPeloThread second(kit_.service, kit_.clock, sleeper, SystemHostAddresses::Instance());
    sleeper.ticks = 0;
    RunTicks(second, sleeper, 1);
    const std::string page = Published();
    EXPECT_NE(page.find("\r\n<H2><BR><a href=\"http://100.64.12.34/\">100.64.12.34</a></H2>\r\n"),
              std::string::npos)
        << page;
    EXPECT_EQ(page.find('['), std::string::npos) << page;
}

} // namespace
} // namespace pelorix
