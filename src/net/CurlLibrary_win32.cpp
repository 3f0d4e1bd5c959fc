// On Windows libcurl is linked into the program (built from Debian's sources with Schannel and
// libssh2 by scripts/windows-deps.sh): "loading" hands out its functions, and the count of
// users keeps curl_global_init and curl_global_cleanup paired as on Linux.
#include "net/CurlLibrary.h"

#include <mutex>

namespace pelorix::wininet {

namespace {

constexpr CurlApi kLinkedCurl{curl_global_init,  curl_global_cleanup, curl_easy_init,
                              curl_easy_cleanup, curl_easy_setopt,    curl_easy_perform,
                              curl_easy_getinfo, curl_easy_escape,    curl_free};

std::mutex curlMutex;
int curlUsers = 0;

} // namespace

const CurlApi* AcquireCurl(std::string& error) {
    std::lock_guard lock(curlMutex);
    if (curlUsers == 0 && kLinkedCurl.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        error = "curl_global_init failed";
        return nullptr;
    }
    ++curlUsers;
    return &kLinkedCurl;
}

void ReleaseCurl() {
    std::lock_guard lock(curlMutex);
    if (curlUsers > 0 && --curlUsers == 0)
        kLinkedCurl.global_cleanup();
}

} // namespace pelorix::wininet
