#include "net/CurlLibrary.h"

#include "net/InternetSession.h"
#include "platform/LoadedLibrary.h"

#include <utility>

namespace pelorix::wininet {

namespace {

CurlApi gApi{};

bool StartCurl(LoadedLibrary& library, std::string& error) {
    const bool resolved = library.Resolve(gApi.global_init, "curl_global_init", error) &&
                          library.Resolve(gApi.global_cleanup, "curl_global_cleanup", error) &&
                          library.Resolve(gApi.easy_init, "curl_easy_init", error) &&
                          library.Resolve(gApi.easy_cleanup, "curl_easy_cleanup", error) &&
                          library.Resolve(gApi.easy_setopt, "curl_easy_setopt", error) &&
                          library.Resolve(gApi.easy_perform, "curl_easy_perform", error) &&
                          library.Resolve(gApi.easy_getinfo, "curl_easy_getinfo", error) &&
                          library.Resolve(gApi.easy_escape, "curl_easy_escape", error) &&
                          library.Resolve(gApi.free, "curl_free", error);
    if (resolved && gApi.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK)
        return true;
    if (resolved)
        error = "curl_global_init failed";
    gApi = {};
    return false;
}

void StopCurl() {
    gApi.global_cleanup();
    gApi = {};
}

LoadedLibrary& Curl() {
    // Never destroyed: a connection closed late in the program's exit still finds it.
    static auto* library = new LoadedLibrary("libcurl.so.4", &StartCurl, &StopCurl);
    return *library;
}

} // namespace

const CurlApi* AcquireCurl(std::string& error) {
    return Curl().Acquire(error) ? &gApi : nullptr;
}

void ReleaseCurl() {
    Curl().Release();
}

void SetCurlLibraryFile(std::string file) {
    Curl().SetFile(std::move(file));
}

bool CurlLibraryLoaded() {
    return Curl().Loaded();
}

} // namespace pelorix::wininet
