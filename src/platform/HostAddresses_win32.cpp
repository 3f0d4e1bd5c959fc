#include "platform/HostAddresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>
// The adapter list needs the declarations of the two above.
#include <iphlpapi.h>

#include <memory>

namespace pelorix {

namespace {

// Room for a few dozen adapters; the call says how much it needs when that is not enough.
constexpr ULONG kFirstGuess = 16 * 1024;

// The adapter list of one family, or nothing when it cannot be had.
std::unique_ptr<unsigned char[]> AdapterList(ULONG family, ULONG flags, ULONG& status) {
    ULONG size = kFirstGuess;
    std::unique_ptr<unsigned char[]> buffer;
    status = ERROR_BUFFER_OVERFLOW;
    // The list may grow between two calls; a few rounds settle it.
    for (int round = 0; round < 4 && status == ERROR_BUFFER_OVERFLOW; ++round) {
        buffer = std::make_unique<unsigned char[]>(size);
        status = GetAdaptersAddresses(family, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
    return buffer;
}

std::string DottedAddress(const SOCKADDR* address) {
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr)
        return {};
    return text;
}

} // namespace

// The adapters' own list rather than resolving the computer's name: it says which adapters are
// up and which is the loopback, without asking a name service.
std::vector<std::string> SystemHostAddresses::HostAddresses() const {
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                        GAA_FLAG_SKIP_FRIENDLY_NAME;
    ULONG status = 0;
    const std::unique_ptr<unsigned char[]> buffer = AdapterList(AF_INET, flags, status);
    if (status != ERROR_SUCCESS && status != ERROR_NO_DATA)
        return {};

    std::vector<std::string> addresses;
    if (status == ERROR_SUCCESS) {
        for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get());
             adapter != nullptr; adapter = adapter->Next) {
            if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
                continue;
            for (const auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
                 unicast = unicast->Next) {
                const SOCKADDR* address = unicast->Address.lpSockaddr;
                if (address == nullptr || address->sa_family != AF_INET)
                    continue;
                std::string text = DottedAddress(address);
                if (!text.empty())
                    addresses.push_back(std::move(text));
            }
        }
    }
    // A computer without a network connection still has its own name on the loopback address.
    if (addresses.empty())
        addresses.emplace_back("127.0.0.1");
    return addresses;
}

namespace {

// The interface Windows would send a packet to the internet through: the best route to an
// address of the global unicast range, which only the default route covers.
DWORD DefaultRouteInterface() {
    sockaddr_in6 destination{};
    destination.sin6_family = AF_INET6;
    destination.sin6_addr.s6_addr[0] = 0x20;
    destination.sin6_addr.s6_addr[1] = 0x01;
    destination.sin6_addr.s6_addr[2] = 0x0d;
    destination.sin6_addr.s6_addr[3] = 0xb8;
    DWORD index = 0;
    if (GetBestInterfaceEx(reinterpret_cast<sockaddr*>(&destination), &index) != NO_ERROR)
        return 0;
    return index;
}

// The adapter's name as users see it, in the system's single-byte texts.
std::string FriendlyName(const IP_ADAPTER_ADDRESSES& adapter) {
    if (adapter.FriendlyName == nullptr)
        return {};
    char name[256] = {};
    const int length =
        WideCharToMultiByte(28591, 0, adapter.FriendlyName, -1, name, sizeof name, nullptr, nullptr);
    return length > 0 ? std::string(name) : std::string();
}

HostAddress6 ReadUnicast(const IP_ADAPTER_UNICAST_ADDRESS& unicast) {
    HostAddress6 address;
    char text[INET6_ADDRSTRLEN] = {};
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(unicast.Address.lpSockaddr);
    if (inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text) != nullptr)
        address.Address = text;
    // A random suffix is what a privacy address is made of.
    address.Temporary = unicast.SuffixOrigin == IpSuffixOriginRandom;
    address.Deprecated = unicast.DadState == IpDadStateDeprecated;
    address.Tentative = unicast.DadState == IpDadStateTentative || unicast.DadState == IpDadStateInvalid;
    address.DuplicateFound = unicast.DadState == IpDadStateDuplicate;
    address.PreferredLifetime = unicast.PreferredLifetime;
    return address;
}

} // namespace

// The interface may be named as users see it ("Ethernet") or by the adapter's own name.
InterfaceAddresses6 SystemHostAddresses::HostAddresses6(const std::string& interfaceName) const {
    InterfaceAddresses6 result;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG status = 0;
    const std::unique_ptr<unsigned char[]> buffer = AdapterList(AF_INET6, flags, status);
    if (status != ERROR_SUCCESS)
        return result;
    const DWORD defaultInterface = interfaceName.empty() ? DefaultRouteInterface() : 0;
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get());
         adapter != nullptr; adapter = adapter->Next) {
        const std::string friendly = FriendlyName(*adapter);
        const bool chosen = interfaceName.empty()
                                ? defaultInterface != 0 && adapter->Ipv6IfIndex == defaultInterface
                                : interfaceName == friendly || (adapter->AdapterName != nullptr &&
                                                                interfaceName == adapter->AdapterName);
        if (!chosen)
            continue;
        result.Interface =
            friendly.empty() && adapter->AdapterName != nullptr ? adapter->AdapterName : friendly;
        for (const auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address != nullptr && address->sa_family == AF_INET6)
                result.Addresses.push_back(ReadUnicast(*unicast));
        }
        break;
    }
    return result;
}

} // namespace pelorix
