#pragma once
// The IPv4 addresses of this computer's network interfaces: every adapter's address, as
// resolving the computer's own name gives them on Windows. Linux lists them with getifaddrs,
// Windows with GetAdaptersAddresses.

#include <string>
#include <vector>

namespace pelorix {

class IHostAddressSource {
public:
    virtual ~IHostAddressSource() = default;
    // Dotted addresses of the interfaces that are up, loopback left out, in interface order;
    // the single entry "127.0.0.1" when there is none; an empty list when listing failed.
    virtual std::vector<std::string> HostAddresses() const = 0;
};

// The real list.
class SystemHostAddresses final : public IHostAddressSource {
public:
    std::vector<std::string> HostAddresses() const override;
    static SystemHostAddresses& Instance();
};

} // namespace pelorix
