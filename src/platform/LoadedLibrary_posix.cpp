#include "platform/LoadedLibrary.h"

#include "platform/MappedPages.h"

#include <dlfcn.h>
#include <malloc.h>

#include <utility>

namespace pelorix {

LoadedLibrary::LoadedLibrary(std::string defaultFile, Start start, Stop stop)
    : defaultFile_(defaultFile), file_(std::move(defaultFile)), start_(std::move(start)),
      stop_(std::move(stop)) {}

bool LoadedLibrary::Acquire(std::string& error) {
    std::lock_guard lock(mutex_);
    if (users_ == 0 && !Load(error))
        return false;
    ++users_;
    return true;
}

void LoadedLibrary::Release() {
    std::lock_guard lock(mutex_);
    if (users_ == 0 || --users_ != 0)
        return;
    stop_();
    Unload();
}

void LoadedLibrary::SetFile(std::string file) {
    std::lock_guard lock(mutex_);
    file_ = file.empty() ? defaultFile_ : std::move(file);
}

bool LoadedLibrary::Loaded() {
    std::lock_guard lock(mutex_);
    return handle_ != nullptr;
}

void* LoadedLibrary::Symbol(const char* name, std::string& error) {
    void* symbol = ::dlsym(handle_, name);
    if (!symbol) {
        const char* reason = ::dlerror();
        error = reason ? reason : file_ + ": " + name;
    }
    return symbol;
}

bool LoadedLibrary::Load(std::string& error) {
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
    if (!start_(*this, error)) {
        Unload();
        return false;
    }
    return true;
}

void LoadedLibrary::Unload() {
    ::dlclose(handle_);
    handle_ = nullptr;
    ReleaseLeftOverPages(broughtByLoad_);
    ::malloc_trim(0); // what the library freed goes back to the system, not just to the heap
}

} // namespace pelorix
