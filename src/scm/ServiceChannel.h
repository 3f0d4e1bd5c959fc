#pragma once
// The service side of the control layer (ServiceControl): a program that the control layer
// started opens its service's channel, reports its states there and takes the control
// requests from it. The channel is a Unix-domain socket in the service database that only the
// database directory's owner and group may use, plus the status file the control calls read.
//
// Owned by the service framework; used from its control thread only, which takes one request,
// handles it and answers it before it takes the next, so requests never overlap.

#include <cstdint>
#include <optional>
#include <string>

namespace pelorix {

// One control request, waiting for its answer. Closes the connection when it goes.
class ServiceRequest {
public:
    ServiceRequest(std::uint32_t control, int connection) : control_(control), connection_(connection) {}
    ~ServiceRequest();
    ServiceRequest(const ServiceRequest&) = delete;
    ServiceRequest& operator=(const ServiceRequest&) = delete;
    ServiceRequest(ServiceRequest&& other) noexcept;
    ServiceRequest& operator=(ServiceRequest&&) = delete;

    // SERVICE_CONTROL_STOP, _PAUSE, _CONTINUE, _INTERROGATE or _SHUTDOWN.
    std::uint32_t Control() const { return control_; }
    int Connection() const { return connection_; }

private:
    std::uint32_t control_;
    int connection_;
};

class ServiceChannel {
public:
    // The name of the service when the control layer started this process, else empty.
    static std::string StartedServiceName();

    ServiceChannel() = default;
    ~ServiceChannel();
    ServiceChannel(const ServiceChannel&) = delete;
    ServiceChannel& operator=(const ServiceChannel&) = delete;

    // Opens the channel of the named service and reports start pending.
    bool Open(const std::string& serviceName);
    bool IsOpen() const { return listenFd_ >= 0; }

    // Reports a state (SERVICE_RUNNING …). Stopped also closes the channel and, when the
    // service was marked for deletion meanwhile, removes it from the database.
    void ReportStatus(std::uint32_t state, std::uint32_t exitCode = 0);
    std::uint32_t State() const { return state_; }

    // The listening socket: readable when a request waits (for a poll beside other events).
    int Fd() const { return listenFd_; }

    // The next request, waiting at most timeoutMs (-1: no limit); none when nothing came.
    std::optional<ServiceRequest> NextRequest(int timeoutMs);

    // Answers with error (0 when done) and the state last reported.
    void Answer(ServiceRequest& request, std::uint32_t error);

private:
    void Close();

    std::string dir_;
    std::string name_;
    int listenFd_ = -1;
    std::uint32_t state_ = 0;
    std::uint32_t exitCode_ = 0;
    unsigned long long startTime_ = 0;
};

} // namespace pelorix
