#include "netlocal/companion/interface_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace vistrelle::netlocal {

namespace {

std::string dotted(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) return {};
  const auto* in = reinterpret_cast<const sockaddr_in*>(address);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&in->sin_addr.s_addr);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace

std::optional<std::vector<InterfaceEntry>> readInterfaces() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owned(list, ::freeifaddrs);
  std::vector<InterfaceEntry> entries;
  for (const ifaddrs* at = list; at != nullptr; at = at->ifa_next) {
    InterfaceEntry entry;
    entry.name = at->ifa_name != nullptr ? at->ifa_name : "";
    entry.flags = at->ifa_flags;
    entry.family = at->ifa_addr != nullptr ? at->ifa_addr->sa_family : AF_UNSPEC;
    if (entry.family == AF_PACKET) {
      const auto* link = reinterpret_cast<const sockaddr_ll*>(at->ifa_addr);
      const size_t length = std::min<size_t>(link->sll_halen, sizeof link->sll_addr);
      entry.hardwareAddress.assign(link->sll_addr, link->sll_addr + length);
    } else if (entry.family == AF_INET) {
      entry.address = dotted(at->ifa_addr);
      entry.netmask = dotted(at->ifa_netmask);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string hexByte(uint8_t byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", byte);
  return text;
}

std::string defaultInterfaceName(const std::vector<InterfaceEntry>& entries) {
  for (const InterfaceEntry& entry : entries) {
    if ((entry.flags & IFF_UP) != 0 && (entry.flags & IFF_LOOPBACK) == 0) return entry.name;
  }
  return {};
}

std::string hardwareAddressOf(const std::optional<std::vector<InterfaceEntry>>& entries,
                              const std::string& interface) {
  std::string found = "00:00:00:00:00:00";
  if (!entries) return found;
  for (const InterfaceEntry& entry : *entries) {
    if (entry.family != AF_PACKET || entry.name != interface || entry.hardwareAddress.size() < 6) {
      continue;
    }
    found.clear();
    for (size_t i = 0; i < 6; ++i) {
      if (i > 0) found += ':';
      found += hexByte(entry.hardwareAddress[i]);
    }
  }
  return found;
}

std::string hardwareAddress(const std::string& interface) {
  const auto entries = readInterfaces();
  if (!interface.empty() || !entries) return hardwareAddressOf(entries, interface);
  return hardwareAddressOf(entries, defaultInterfaceName(*entries));
}

std::optional<std::string> netmaskOf(const std::optional<std::vector<InterfaceEntry>>& entries,
                                     const std::string& address) {
  if (!entries) return std::nullopt;
  for (const InterfaceEntry& entry : *entries) {
    if (entry.family == AF_INET && !entry.address.empty() && entry.address == address) {
      return entry.netmask.empty() ? std::nullopt : std::optional(entry.netmask);
    }
  }
  return std::nullopt;
}

}  // namespace vistrelle::netlocal
