// Drives an installed service through the service control manager for the end-to-end check
// under Wine, whose sc.exe cannot pause or continue:
//     ServiceControlTool NAME start|pause|continue|stop|query|hold [SECONDS]
// Each request waits (at most SECONDS, default 30) for the state it leads to and prints the
// state reached; a failure prints "error N" with the system's error number. Exit code 0 when
// the state was reached. "hold" just waits SECONDS: Wine ends every service (as at a system
// shutdown) once no ordinary program runs any more, so the check keeps one running meanwhile.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_)
            CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED:
        return "STOPPED";
    case SERVICE_START_PENDING:
        return "START_PENDING";
    case SERVICE_STOP_PENDING:
        return "STOP_PENDING";
    case SERVICE_RUNNING:
        return "RUNNING";
    case SERVICE_CONTINUE_PENDING:
        return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING:
        return "PAUSE_PENDING";
    case SERVICE_PAUSED:
        return "PAUSED";
    default:
        return "UNKNOWN";
    }
}

int Fail(const char* what) {
    std::printf("error %lu (%s)\n", GetLastError(), what);
    return 1;
}

bool Settled(DWORD state) {
    return state == SERVICE_STOPPED || state == SERVICE_RUNNING || state == SERVICE_PAUSED;
}

int WaitFor(SC_HANDLE service, DWORD wanted, DWORD limitMs) {
    const ULONGLONG begin = GetTickCount64();
    SERVICE_STATUS status{};
    for (;;) {
        if (!QueryServiceStatus(service, &status))
            return Fail("QueryServiceStatus");
        const bool timedOut = GetTickCount64() - begin >= limitMs;
        if (status.dwCurrentState == wanted || timedOut ||
            (Settled(status.dwCurrentState) && status.dwCurrentState != wanted &&
             GetTickCount64() - begin >= 2000))
            break;
        Sleep(100);
    }
    std::printf("%s exit=%lu specific=%lu\n", StateName(status.dwCurrentState), status.dwWin32ExitCode,
                status.dwServiceSpecificExitCode);
    return status.dwCurrentState == wanted ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: ServiceControlTool NAME start|pause|continue|stop|query|hold [SECONDS]\n");
        return 2;
    }
    const char* verb = argv[2];
    const DWORD limitMs = static_cast<DWORD>((argc > 3 ? std::atoi(argv[3]) : 30) * 1000);
    if (std::strcmp(verb, "hold") == 0) {
        Sleep(limitMs);
        return 0;
    }
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.Get())
        return Fail("OpenSCManagerA");
    ScHandle service(
        OpenServiceA(manager.Get(), argv[1],
                     SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS));
    if (!service.Get())
        return Fail("OpenServiceA");
    SERVICE_STATUS status{};
    if (std::strcmp(verb, "query") == 0) {
        if (!QueryServiceStatus(service.Get(), &status))
            return Fail("QueryServiceStatus");
        std::printf("%s\n", StateName(status.dwCurrentState));
        return 0;
    }
    if (std::strcmp(verb, "start") == 0) {
        if (!StartServiceA(service.Get(), 0, nullptr))
            return Fail("StartServiceA");
        return WaitFor(service.Get(), SERVICE_RUNNING, limitMs);
    }
    struct {
        const char* verb;
        DWORD control;
        DWORD state;
    } const controls[] = {{"pause", SERVICE_CONTROL_PAUSE, SERVICE_PAUSED},
                          {"continue", SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING},
                          {"stop", SERVICE_CONTROL_STOP, SERVICE_STOPPED}};
    for (const auto& c : controls) {
        if (std::strcmp(verb, c.verb) != 0)
            continue;
        if (!ControlService(service.Get(), c.control, &status))
            return Fail("ControlService");
        return WaitFor(service.Get(), c.state, limitMs);
    }
    std::fprintf(stderr, "unknown request %s\n", verb);
    return 2;
}
