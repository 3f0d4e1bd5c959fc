#pragma once
// Which of the host's addresses reaches this computer from outside: the choice among the
// IPv6 addresses of an interface, and the IPv4 ranges that never do. Used by the worker's
// address stages and by the manager's address display. No state.

#include "platform/HostAddresses.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

// Whether an address may be published: global unicast (2000::/3, so neither unique local nor
// link-local), preferred (not deprecated, preferred lifetime above 0), its duplicate address
// detection passed, and no privacy address (those change by design and accept no visitors
// for long).
bool IsPublishableIPv6(const HostAddress6& address);

// The address to publish, in its recommended form; empty when none may be published. The
// address published last stays as long as it may still be published, so a new address beside
// it changes nothing; otherwise the one with the longest preferred lifetime, the first of
// equal ones.
std::string ChooseIPv6Address(const std::vector<HostAddress6>& addresses, const std::string& publishedLast);

// Why a dotted IPv4 address cannot be reached from the internet: "Carrier-Grade-NAT" for
// 100.64.0.0/10, "privates Netz" for 10/8, 172.16/12, 192.168/16, 169.254/16 and 127/8;
// nothing for any other address (documentation ranges included) or a text that is none.
std::optional<std::string> NonPublicIPv4Reason(std::string_view dotted);

// The level-0 line for such an address.
std::string NonPublicIPv4Line(const std::string& dotted, const std::string& reason);

} // namespace pelorix
