#include "cloud/http/reachability.h"

#include <ifaddrs.h>
#include <net/if.h>

namespace vistrelle::cloud {

std::string_view rawValue(ReachabilityStatus status) {
  switch (status) {
    case ReachabilityStatus::unknown:
      return "unknown";
    case ReachabilityStatus::notReachable:
      return "notReachable";
    case ReachabilityStatus::ethernetOrWiFi:
      return "ethernetOrWiFi";
    case ReachabilityStatus::cellular:
      return "cellular";
  }
  return "unknown";
}

ReachabilityStatus reachabilityStatusOf(const struct ifaddrs* interfaces) {
  for (const struct ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    const unsigned flags = entry->ifa_flags;
    if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK)) {
      return ReachabilityStatus::ethernetOrWiFi;
    }
  }
  return ReachabilityStatus::notReachable;
}

ReachabilityStatus currentReachabilityStatus() {
  struct ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return ReachabilityStatus::unknown;
  const ReachabilityStatus status = reachabilityStatusOf(interfaces);
  ::freeifaddrs(interfaces);
  return status;
}

}  // namespace vistrelle::cloud
