#include "platform/HostAddresses.h"

#include "platform/FileDescriptor.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

namespace pelorix {

std::vector<std::string> SystemHostAddresses::HostAddresses() const {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    std::vector<std::string> addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr)
            addresses.emplace_back(text);
    }
    freeifaddrs(list);
    // A computer without a network connection still has its own name on the loopback address.
    if (addresses.empty())
        addresses.emplace_back("127.0.0.1");
    return addresses;
}

namespace {

// The kernel answers a dump at once; a second is far more than it ever takes.
constexpr int kNetlinkWaitSeconds = 1;

using MessageHandler = std::function<void(const nlmsghdr&)>;

// One dump request (RTM_GETROUTE or RTM_GETADDR) for IPv6; every answer message goes to the
// handler. False when the kernel could not be asked or answered with an error.
bool DumpIPv6(std::uint16_t type, const MessageHandler& handle) {
    Fd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket.Valid())
        return false;
    timeval wait{kNetlinkWaitSeconds, 0};
    setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    struct {
        nlmsghdr header;
        rtmsg body; // the larger of rtmsg and ifaddrmsg; the family comes first in both
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(type == RTM_GETADDR ? sizeof(ifaddrmsg) : sizeof(rtmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.rtm_family = AF_INET6;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(socket.Get(), &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) < 0)
        return false;

    std::vector<char> buffer(32 * 1024);
    while (true) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = recvfrom(socket.Get(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        if (from.nl_pid != 0) // only the kernel speaks for the kernel
            continue;
        auto length = static_cast<unsigned>(got);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_seq != request.header.nlmsg_seq)
                continue;
            if (message->nlmsg_type == NLMSG_DONE)
                return true;
            if (message->nlmsg_type == NLMSG_ERROR)
                return false;
            handle(*message);
        }
    }
}

// The index of the interface of the default IPv6 route in the main table, the one with the
// lowest metric; 0 when there is none.
unsigned DefaultRouteInterface() {
    unsigned best = 0;
    std::uint32_t bestMetric = UINT32_MAX;
    DumpIPv6(RTM_GETROUTE, [&](const nlmsghdr& message) {
        if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
            return;
        const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(&message));
        if (route->rtm_family != AF_INET6 || route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST)
            return;
        std::uint32_t table = route->rtm_table;
        std::uint32_t metric = 0;
        unsigned interface = 0;
        unsigned length = RTM_PAYLOAD(&message);
        for (const auto* attribute = RTM_RTA(route); RTA_OK(attribute, length);
             attribute = RTA_NEXT(attribute, length)) {
            const void* data = RTA_DATA(attribute);
            const auto size = RTA_PAYLOAD(attribute);
            if (attribute->rta_type == RTA_TABLE && size >= sizeof(std::uint32_t))
                std::memcpy(&table, data, sizeof table);
            else if (attribute->rta_type == RTA_PRIORITY && size >= sizeof(std::uint32_t))
                std::memcpy(&metric, data, sizeof metric);
            else if (attribute->rta_type == RTA_OIF && size >= sizeof(std::uint32_t))
                std::memcpy(&interface, data, sizeof interface);
            else if (attribute->rta_type == RTA_MULTIPATH && size >= sizeof(rtnexthop) && interface == 0)
                interface = static_cast<unsigned>(static_cast<const rtnexthop*>(data)->rtnh_ifindex);
        }
        if (table == RT_TABLE_MAIN && interface != 0 && metric < bestMetric) {
            best = interface;
            bestMetric = metric;
        }
    });
    return best;
}

// One RTM_NEWADDR message of the interface, or nothing for another interface or family.
bool ReadAddressMessage(const nlmsghdr& message, unsigned interface, HostAddress6& out) {
    if (message.nlmsg_type != RTM_NEWADDR || message.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
        return false;
    const auto* header = static_cast<const ifaddrmsg*>(NLMSG_DATA(&message));
    if (header->ifa_family != AF_INET6 || header->ifa_index != interface)
        return false;
    std::uint32_t flags = header->ifa_flags;
    const in6_addr* address = nullptr;
    const in6_addr* local = nullptr;
    out.PreferredLifetime = HostAddress6::kForever;
    unsigned length = IFA_PAYLOAD(&message);
    for (const auto* attribute = IFA_RTA(header); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        const void* data = RTA_DATA(attribute);
        const auto size = RTA_PAYLOAD(attribute);
        if (attribute->rta_type == IFA_ADDRESS && size >= sizeof(in6_addr))
            address = static_cast<const in6_addr*>(data);
        else if (attribute->rta_type == IFA_LOCAL && size >= sizeof(in6_addr))
            local = static_cast<const in6_addr*>(data);
        else if (attribute->rta_type == IFA_FLAGS && size >= sizeof(std::uint32_t))
            std::memcpy(&flags, data, sizeof flags); // all 32 bits; the header holds the low 8
        else if (attribute->rta_type == IFA_CACHEINFO && size >= sizeof(ifa_cacheinfo))
            out.PreferredLifetime = static_cast<const ifa_cacheinfo*>(data)->ifa_prefered;
    }
    // On a point-to-point link IFA_ADDRESS is the far end and IFA_LOCAL this one.
    if (local != nullptr)
        address = local;
    char text[INET6_ADDRSTRLEN] = {};
    if (address == nullptr || inet_ntop(AF_INET6, address, text, sizeof text) == nullptr)
        return false;
    out.Address = text;
    out.Temporary = (flags & IFA_F_TEMPORARY) != 0;
    out.Deprecated = (flags & IFA_F_DEPRECATED) != 0;
    out.Tentative = (flags & IFA_F_TENTATIVE) != 0;
    out.DuplicateFound = (flags & IFA_F_DADFAILED) != 0;
    return true;
}

} // namespace

InterfaceAddresses6 SystemHostAddresses::HostAddresses6(const std::string& interfaceName) const {
    InterfaceAddresses6 result;
    const unsigned interface =
        interfaceName.empty() ? DefaultRouteInterface() : if_nametoindex(interfaceName.c_str());
    char name[IF_NAMESIZE] = {};
    if (interface == 0 || if_indextoname(interface, name) == nullptr)
        return result;
    result.Interface = name;
    DumpIPv6(RTM_GETADDR, [&](const nlmsghdr& message) {
        HostAddress6 address;
        if (ReadAddressMessage(message, interface, address))
            result.Addresses.push_back(std::move(address));
    });
    return result;
}

} // namespace pelorix
