#pragma once

#include <string_view>

struct ifaddrs;

namespace vistrelle::cloud {

// Whether the network can be reached, as far as the interfaces tell.  The raw
// values are the names.
enum class ReachabilityStatus { unknown, notReachable, ethernetOrWiFi, cellular };

std::string_view rawValue(ReachabilityStatus status);

// From a getifaddrs() list: an interface that is up, running and not the
// loopback means Ethernet or Wi-Fi; none means not reachable.  (Cellular is
// never told apart here.)
ReachabilityStatus reachabilityStatusOf(const struct ifaddrs* interfaces);

// The current status; unknown when the interfaces cannot be read.
ReachabilityStatus currentReachabilityStatus();

}  // namespace vistrelle::cloud
