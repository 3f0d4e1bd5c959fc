// The German causes for the libraries' usual failure texts.

#include "net/FailureCause.h"

#include "base/Latin1.h"
#include "net/InternetSession.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(FailureCause, LibraryTextsBecomeGermanCauses) {
    const std::string timeout = "Server antwortet nicht (Zeitüberschreitung)"_l1;
    EXPECT_EQ(FailureCause(0, "Connection timed out after 30000 milliseconds"), timeout);
    EXPECT_EQ(FailureCause(0, "SSL connection timeout"), timeout);
    EXPECT_EQ(FailureCause(wininet::kErrorInternetTimeout, ""), timeout);
    EXPECT_EQ(FailureCause(0, "error:0A00010B:SSL routines::wrong version number"),
              "Verbindungsart passt nicht zum Server - Einstellung \"Verbindung:\" prüfen"_l1);
    EXPECT_EQ(FailureCause(0, "Too large response headers: 311296 > 307200"),
              "Antwort des Servers zu groß oder ungültig"_l1);
    EXPECT_EQ(FailureCause(0, "SSL certificate problem: self-signed certificate"),
              "Zertifikat des Servers nicht akzeptiert");
    // What names no cause of its own stays for the caller's line.
    EXPECT_EQ(FailureCause(wininet::kErrorInternetExtendedError, "550 No such file"), "");
}

} // namespace
} // namespace pelorix
