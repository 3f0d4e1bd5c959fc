#include "net/Trust.h"
#include "svc/ServiceHelpers.h"

#include "TestSystem.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // Test servers carry certificates of a test authority; only test programs (and the helpers
    // they start, which inherit the variable) are told to trust it.
    if (const char* authorities = std::getenv("PELORIX_TEST_AUTHORITIES"))
        pelorix::SetAuthorityFile(authorities);
    if (const auto helper_exit = pelorix::RunHelperIfAsked(argc, argv, pelorix::ServiceHelperVerbs())) {
        // A helper ends without the exit handlers: in the sanitizer build the leak check at exit
        // walks the thread-local blocks of libraries the helper has already unloaded (libcurl,
        // libssl) and crashes there, which would read as a helper that died.
        std::fflush(nullptr);
        std::_Exit(*helper_exit);
    }
    pelorix::test::KeepLineEndsOfStandardOutput();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
