#include "net/WinInetControl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace pelorix;

namespace {

// The base is abstract; this one publishes what the tests look at.
class Control : public TWinInetControl {
public:
    using TWinInetControl::OnDisconnected;
    using TWinInetControl::RequestFlags;
    using TWinInetControl::Session;
    ~Control() override { BeginDestruction(); }
    void UpdateQuickProgress() override {}
};

class StatusBar : public TQuickStatusBar {
public:
    explicit StatusBar(bool simple) : simple_(simple) {}
    bool SimplePanel() const override { return simple_; }
    void SetSimpleText(const std::string& text) override { simpleText = text; }
    void SetFirstPanelText(const std::string& text) override { panelText = text; }
    std::string simpleText;
    std::string panelText;

private:
    bool simple_;
};

TEST(WinInetControl, Defaults) {
    Control c;
    EXPECT_EQ(c.ConnectRetries(), 3u);
    EXPECT_FALSE(c.EnableCache());
    EXPECT_EQ(c.RequestFlags(), 0x80000000u);
    EXPECT_EQ(c.Port, 0);
    EXPECT_EQ(c.ConnectTimeout(), 300000u);
    EXPECT_EQ(c.ResolveNames(), rnLocal);
    EXPECT_TRUE(c.SilentExceptions);
    EXPECT_FALSE(c.QuickProgress);
    EXPECT_EQ(c.State(), 1);
    EXPECT_EQ(c.StateText(), "No connection");
    EXPECT_EQ(c.Session(), nullptr);
}

TEST(WinInetControl, OptionsBeforeAndWhileTheSessionIsOpen) {
    Control c;
    c.SetConnectTimeout(0);
    EXPECT_EQ(c.ConnectTimeout(), 300000u);
    c.SetConnectTimeout(1500);
    c.SetConnectRetries(5);
    EXPECT_FALSE(c.Connect()) << "the base makes no protocol connection";
    ASSERT_NE(c.Session(), nullptr);
    std::uint32_t value = 0;
    ASSERT_TRUE(c.Session()->QueryOption(wininet::kOptionConnectTimeout, value));
    EXPECT_EQ(value, 1500u);
    c.SetConnectRetries(7);
    ASSERT_TRUE(c.Session()->QueryOption(wininet::kOptionConnectRetries, value));
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(c.ConnectRetries(), 7u);
    c.SetConnectTimeout(0);
    EXPECT_EQ(c.ConnectTimeout(), 300000u);

    c.SetEnableCache(true);
    EXPECT_EQ(c.RequestFlags(), 0u);
    c.SetEnableCache(false);
    EXPECT_EQ(c.RequestFlags(), 0x80000000u);
}

TEST(WinInetControl, ConnectWhenConnectedTouchesNothing) {
    Control c;
    c.SetState(3);
    EXPECT_TRUE(c.Connect());
    EXPECT_EQ(c.Session(), nullptr);
}

TEST(WinInetControl, StatusCodesMoveTheStateAndTheDisplay) {
    Control c;
    c.HostName = "ftp.example.org";
    StatusBar bar(true);
    c.QuickProgress = true;
    c.QuickStatus = &bar;
    std::vector<TWinInetState> changes;
    c.OnStateChange = [&](TWinInetControl& sender, TWinInetState state) {
        EXPECT_EQ(&sender, &c);
        changes.push_back(state);
    };
    for (std::uint32_t status : {10u, 11u, 20u, 21u, 21u, 50u, 51u})
        c.StatusCallback(status, nullptr, 0);
    EXPECT_EQ(changes, (std::vector<TWinInetState>{4, 5, 2, 3, 0, 1}));
    EXPECT_EQ(bar.simpleText, "No connection");

    c.StatusCallback(21, nullptr, 0);
    EXPECT_EQ(bar.simpleText, "Connected to ftp.example.org");
    const std::uint32_t count = 12;
    c.StatusCallback(31, &count, sizeof count);
    EXPECT_EQ(c.State(), 3);
    EXPECT_EQ(changes.size(), 7u);
    EXPECT_EQ(bar.simpleText, "Connected to ftp.example.org");

    StatusBar panels(false);
    c.QuickStatus = &panels;
    c.StatusCallback(20, nullptr, 0);
    EXPECT_EQ(panels.panelText, "Connecting to ftp.example.org");
    EXPECT_TRUE(panels.simpleText.empty());
    c.QuickProgress = false;
    c.StatusCallback(10, nullptr, 0);
    EXPECT_EQ(panels.panelText, "Connecting to ftp.example.org");
}

TEST(WinInetControl, StateTexts) {
    Control c;
    c.HostName = "h";
    const std::vector<std::string> texts{"Disconnecting from h", "No connection",    "Connecting to h",
                                         "Connected to h",       "Resolving name h", "Resolved name h"};
    for (int state = 0; state < 6; ++state) {
        c.SetState(state);
        EXPECT_EQ(c.StateText(), texts[static_cast<std::size_t>(state)]);
    }
    EXPECT_FALSE(c.SetState(5));
    c.SetState(9);
    EXPECT_EQ(c.StateText(), "Unknown state!  Contact support ...");
}

TEST(WinInetControl, ConnectErrorsRaiseOnlyWhenAsked) {
    Control c;
    c.HostName = "ftp.example.org";
    c.UserName = "anna";
    c.SetState(3);
    c.RaiseConnectError(12029);
    EXPECT_EQ(c.State(), 1);

    c.SilentExceptions = false;
    const std::vector<std::pair<std::uint32_t, std::string>> table{
        {12002, "Connection to ftp.example.org timed out"},
        {12004, "Internal WININET error"},
        {12007, "Unable to resolve host name 'ftp.example.org'"},
        {12013, "Bad user name: 'anna' connecting to ftp.example.org"},
        {12014, "Bad password connecting to ftp.example.org"},
        {12015, "Unable to connect to ftp.example.org"},
        {12029, "Unable to connect to ftp.example.org"},
        {12003, "General Connection Error to ftp.example.org"},
        {2, "General Connection Error to ftp.example.org"}};
    for (const auto& [code, text] : table) {
        c.SetState(3);
        try {
            c.RaiseConnectError(code);
            ADD_FAILURE() << code << " raised nothing";
        } catch (const EWinInetError& e) {
            EXPECT_EQ(e.what(), text);
        }
        EXPECT_EQ(c.State(), 1);
    }
}

TEST(WinInetControl, DisconnectFiresEventsExceptDuringDestruction) {
    int changes = 0;
    int disconnects = 0;
    {
        Control c;
        c.OnStateChange = [&](TWinInetControl&, TWinInetState) { ++changes; };
        c.OnDisconnected = [&](TWinInetControl&) { ++disconnects; };
        c.SetState(3);
        EXPECT_TRUE(c.Disconnect());
        EXPECT_EQ(changes, 2);
        EXPECT_EQ(disconnects, 1);
        EXPECT_TRUE(c.Disconnect());
        EXPECT_EQ(disconnects, 1) << "no change, no event";
        c.SetState(3);
        changes = 0;
        disconnects = 0;
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(disconnects, 0);
}

TEST(WinInetControl, LastResponseTextWithoutAnyReply) {
    std::string text;
    std::thread([&] { text = Control().LastResponseText(); }).join();
    EXPECT_EQ(text, "No error description available");
}

TEST(WinInetControl, FormatTextFillsInOrder) {
    EXPECT_EQ(FormatText("Error putting %s to %s", {"a", "b"}), "Error putting a to b");
    EXPECT_EQ(FormatText("%s and %s", {"x"}), "x and %s");
    EXPECT_EQ(FormatText("100%", {"x"}), "100%");
}

} // namespace
