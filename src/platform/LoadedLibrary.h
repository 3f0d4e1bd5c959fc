#pragma once
// A library loaded when its first user needs it and unloaded when the last one lets it go, so
// a program that uses it now and then does not carry it (and the libraries it pulls in) while
// idle. Shared by every thread; loading, unloading and the count of users are guarded.

#include <functional>
#include <mutex>
#include <set>
#include <string>

namespace pelorix {

class LoadedLibrary {
public:
    // Run right after loading, to take the functions (Resolve) and set the library up; false,
    // with the reason in error, unloads it again. Run before unloading, to clean it up.
    using Start = std::function<bool(LoadedLibrary& library, std::string& error)>;
    using Stop = std::function<void()>;

    LoadedLibrary(std::string defaultFile, Start start, Stop stop);
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // Loads the library for the first user; false with the reason in error. Release for each
    // successful Acquire.
    bool Acquire(std::string& error);
    void Release();

    // The file loaded on the next first use; empty restores the default.
    void SetFile(std::string file);
    bool Loaded();

    // During Start: the function name of the loaded library, or false with the reason in error.
    template <typename Function> bool Resolve(Function& function, const char* name, std::string& error) {
        void* symbol = Symbol(name, error);
        function = reinterpret_cast<Function>(symbol);
        return symbol != nullptr;
    }

private:
    void* Symbol(const char* name, std::string& error);
    bool Load(std::string& error);
    void Unload();

    std::mutex mutex_;
    const std::string defaultFile_;
    std::string file_;
    Start start_;
    Stop stop_;
    void* handle_ = nullptr;
    int users_ = 0;
    std::set<std::string> broughtByLoad_;
};

} // namespace pelorix
