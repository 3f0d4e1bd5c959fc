#include "net/CurlLibrary.h"

#include "net/InternetSession.h"
#include "platform/MappedPages.h"

#include <dlfcn.h>
#include <malloc.h>

#include <mutex>
#include <set>
#include <utility>

namespace pelorix::wininet {

namespace {

constexpr const char* kDefaultCurlFile = "libcurl.so.4";

// libcurl is loaded when the first FTP connection is made and unloaded when the last one is
// closed, so a program that uploads now and then does not carry it (and the libraries it pulls
// in) while idle. Shared by every thread; the lock guards loading, unloading and the count.
class CurlLibrary {
public:
    static CurlLibrary& Instance() {
        // Never destroyed: a connection closed late in the program's exit still finds it.
        static auto* library = new CurlLibrary;
        return *library;
    }

    // The loaded functions, or null with the reason in error.
    const CurlApi* Acquire(std::string& error) {
        std::lock_guard lock(mutex_);
        if (users_ == 0 && !Load(error))
            return nullptr;
        ++users_;
        return &api_;
    }

    void Release() {
        std::lock_guard lock(mutex_);
        if (users_ == 0 || --users_ != 0)
            return;
        api_.global_cleanup();
        Unload();
    }

    void SetFile(std::string file) {
        std::lock_guard lock(mutex_);
        file_ = file.empty() ? kDefaultCurlFile : std::move(file);
    }

    bool Loaded() {
        std::lock_guard lock(mutex_);
        return handle_ != nullptr;
    }

private:
    template <typename Function> bool Resolve(Function& function, const char* name, std::string& error) {
        void* symbol = ::dlsym(handle_, name);
        if (!symbol) {
            const char* reason = ::dlerror();
            error = reason ? reason : file_ + ": " + name;
            return false;
        }
        function = reinterpret_cast<Function>(symbol);
        return true;
    }

    bool Load(std::string& error) {
        const std::set<std::string> before = MappedFiles();
        handle_ = ::dlopen(file_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            const char* reason = ::dlerror();
            error = reason ? reason : file_;
            return false;
        }
        // Kept over every load: what an earlier load pinned is no longer new to a later one.
        for (const auto& file : MappedFiles())
            if (!before.count(file))
                broughtByLoad_.insert(file);
        const bool resolved = Resolve(api_.global_init, "curl_global_init", error) &&
                              Resolve(api_.global_cleanup, "curl_global_cleanup", error) &&
                              Resolve(api_.easy_init, "curl_easy_init", error) &&
                              Resolve(api_.easy_cleanup, "curl_easy_cleanup", error) &&
                              Resolve(api_.easy_setopt, "curl_easy_setopt", error) &&
                              Resolve(api_.easy_perform, "curl_easy_perform", error) &&
                              Resolve(api_.easy_getinfo, "curl_easy_getinfo", error) &&
                              Resolve(api_.easy_escape, "curl_easy_escape", error) &&
                              Resolve(api_.free, "curl_free", error);
        if (!resolved || api_.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            if (resolved)
                error = file_ + ": curl_global_init failed";
            Unload();
            return false;
        }
        return true;
    }

    void Unload() {
        ::dlclose(handle_);
        handle_ = nullptr;
        api_ = {};
        ReleaseLeftOverPages(broughtByLoad_);
        ::malloc_trim(0); // what libcurl freed goes back to the system, not just to the heap
    }

    std::mutex mutex_;
    std::string file_ = kDefaultCurlFile;
    void* handle_ = nullptr;
    CurlApi api_{};
    int users_ = 0;
    std::set<std::string> broughtByLoad_;
};

} // namespace

const CurlApi* AcquireCurl(std::string& error) {
    return CurlLibrary::Instance().Acquire(error);
}

void ReleaseCurl() {
    CurlLibrary::Instance().Release();
}

void SetCurlLibraryFile(std::string file) {
    CurlLibrary::Instance().SetFile(std::move(file));
}

bool CurlLibraryLoaded() {
    return CurlLibrary::Instance().Loaded();
}

} // namespace pelorix::wininet
