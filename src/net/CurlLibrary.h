#pragma once
// libcurl, loaded when the first connection needs it and unloaded when the last one is closed,
// so a program that uploads now and then does not carry it (and the libraries it pulls in)
// while idle. Only the functions below are used; nothing links libcurl.

#include <curl/curl.h>

#include <string>

namespace pelorix::wininet {

// The libcurl functions this layer calls, resolved from the loaded library.
struct CurlApi {
    CURLcode (*global_init)(long flags);
    void (*global_cleanup)();
    CURL* (*easy_init)();
    void (*easy_cleanup)(CURL* curl);
    CURLcode (*easy_setopt)(CURL* curl, CURLoption option, ...);
    CURLcode (*easy_perform)(CURL* curl);
    CURLcode (*easy_getinfo)(CURL* curl, CURLINFO info, ...);
    char* (*easy_escape)(CURL* curl, const char* text, int length);
    void (*free)(void* pointer);
};

// The loaded functions for one user, or null with the reason in error; Release for each
// successful Acquire.
const CurlApi* AcquireCurl(std::string& error);
void ReleaseCurl();

// One user's hold on the loaded library: loads it when needed, lets it go when destroyed.
class CurlHold {
public:
    CurlHold() = default;
    ~CurlHold() { Reset(); }
    CurlHold(const CurlHold&) = delete;
    CurlHold& operator=(const CurlHold&) = delete;

    bool Take(std::string& error) {
        Reset();
        api_ = AcquireCurl(error);
        return api_ != nullptr;
    }
    void Reset() {
        if (api_)
            ReleaseCurl();
        api_ = nullptr;
    }
    const CurlApi& operator*() const { return *api_; }
    const CurlApi* operator->() const { return api_; }

private:
    const CurlApi* api_ = nullptr;
};

} // namespace pelorix::wininet
