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
    ULONG size = kFirstGuess;
    std::unique_ptr<unsigned char[]> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    // The list may grow between two calls; a few rounds settle it.
    for (int round = 0; round < 4 && status == ERROR_BUFFER_OVERFLOW; ++round) {
        buffer = std::make_unique<unsigned char[]>(size);
        status = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
    }
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

} // namespace pelorix
