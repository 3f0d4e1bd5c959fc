// The connection mode as stored in Pelorix.ini: which numbers are known, and what each mode
// brings with it.

#include "common/ConnectionMode.h"

#include "TestSystem.h"
#include "base/Latin1.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(ConnectionModeTest, OnlyTheFourStoredNumbersAreKnown) {
    for (int number = 0; number <= 3; ++number) {
        const auto mode = ConnectionModeFromNumber(number);
        ASSERT_TRUE(mode) << number;
        EXPECT_EQ(ConnectionModeNumber(*mode), number);
    }
    for (const int number : {-1, 4, 10, 257})
        EXPECT_FALSE(ConnectionModeFromNumber(number)) << number;
    EXPECT_EQ(UnknownConnectionModeText(7), "FTPMode 7 unbekannt");
    EXPECT_EQ(UnknownConnectionModeText(-1), "FTPMode -1 unbekannt");
}

TEST(ConnectionModeTest, PortNameAndGreetingOfEachMode) {
    struct Case {
        ConnectionMode mode;
        std::uint16_t port;
        std::string name;
        bool greets;
    };
    const Case cases[] = {{ConnectionMode::Plain, 21, "FTP (unverschlüsselt)"_l1, true},
                          {ConnectionMode::ExplicitTls, 21, "FTP mit TLS (explizit)", true},
                          {ConnectionMode::ImplicitTls, 990, "FTPS (implizit)", false},
                          {ConnectionMode::Sftp, 22, "SFTP", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(StandardPort(c.mode), c.port) << c.name;
        EXPECT_EQ(ConnectionModeName(c.mode), c.name);
        EXPECT_EQ(GreetsInClearText(c.mode), c.greets) << c.name;
    }
}

TEST(ConnectionModeTest, PlainFtpIsOfferedEverywhereTheProtectedModesWhereTheBuildHasThem) {
    EXPECT_TRUE(OfferedOnThisSystem(ConnectionMode::Plain));
    for (const ConnectionMode mode :
         {ConnectionMode::ExplicitTls, ConnectionMode::ImplicitTls, ConnectionMode::Sftp})
        EXPECT_EQ(OfferedOnThisSystem(mode), !test::RunsOnWindows()) << ConnectionModeName(mode);
}

} // namespace
} // namespace pelorix
