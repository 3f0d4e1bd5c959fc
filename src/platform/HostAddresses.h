#pragma once
// The addresses of this computer's network interfaces. IPv4: every adapter's address, as
// resolving the computer's own name gives them on Windows; Linux lists them with getifaddrs,
// Windows with GetAdaptersAddresses. IPv6: the addresses of one interface with what the
// system knows of each (Linux: netlink, Windows: GetAdaptersAddresses), for the choice of
// the address to publish.

#include <cstdint>
#include <string>
#include <vector>

namespace pelorix {

// One IPv6 address of an interface as the system lists it.
struct HostAddress6 {
    static constexpr std::uint32_t kForever = 0xFFFFFFFFu;

    std::string Address;                 // as the system writes it (inet_ntop)
    bool Temporary = false;              // a privacy address with a random suffix
    bool Deprecated = false;             // no longer preferred for new connections
    bool Tentative = false;              // duplicate address detection not finished
    bool DuplicateFound = false;         // duplicate address detection failed
    std::uint32_t PreferredLifetime = 0; // seconds left; kForever for a static address
};

// The IPv6 addresses of one interface, and the interface's name.
struct InterfaceAddresses6 {
    std::string Interface; // empty: no such interface, or no default IPv6 route
    std::vector<HostAddress6> Addresses;
};

class IHostAddressSource {
public:
    virtual ~IHostAddressSource() = default;
    // Dotted addresses of the interfaces that are up, loopback left out, in interface order;
    // the single entry "127.0.0.1" when there is none; an empty list when listing failed.
    virtual std::vector<std::string> HostAddresses() const = 0;
    // The IPv6 addresses of the interface named (empty: the interface of the default IPv6 route),
    // in the system's order. A source that knows no IPv6 lists none.
    virtual InterfaceAddresses6 HostAddresses6(const std::string& interfaceName) const {
        (void)interfaceName;
        return {};
    }
};

// The real list.
class SystemHostAddresses final : public IHostAddressSource {
public:
    std::vector<std::string> HostAddresses() const override;
    InterfaceAddresses6 HostAddresses6(const std::string& interfaceName) const override;
    static SystemHostAddresses& Instance();
};

} // namespace pelorix
