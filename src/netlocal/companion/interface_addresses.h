#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vistrelle::netlocal {

// One entry of the host's interface list, as getifaddrs() gives it.
struct InterfaceEntry {
  std::string name;
  unsigned flags = 0;  // IFF_*
  int family = 0;      // AF_INET, AF_INET6, AF_PACKET, ...
  // AF_PACKET: the link-layer address.
  std::vector<uint8_t> hardwareAddress;
  // AF_INET: the address and netmask in dotted form.
  std::string address;
  std::string netmask;
};

// The host's interface list; none when it cannot be read.
std::optional<std::vector<InterfaceEntry>> readInterfaces();

// A byte as two lower-case hexadecimal digits.
std::string hexByte(uint8_t byte);

// The first interface that is up and not the loopback, in list order (the
// stand-in for "en0"); empty when there is none.
std::string defaultInterfaceName(const std::vector<InterfaceEntry>& entries);

// The first 6 bytes of the interface's link-layer address as
// "xx:xx:xx:xx:xx:xx" (the last such entry of the list wins);
// "00:00:00:00:00:00" when it has none of at least 6 bytes or the list could
// not be read.
std::string hardwareAddressOf(const std::optional<std::vector<InterfaceEntry>>& entries,
                              const std::string& interface);

// hardwareAddressOf the host's list; an empty `interface` means
// defaultInterfaceName().
std::string hardwareAddress(const std::string& interface = {});

// The netmask of the first IPv4 entry whose address equals `address`, as
// "%d.%d.%d.%d"; none when nothing matches or the list could not be read.
std::optional<std::string> netmaskOf(const std::optional<std::vector<InterfaceEntry>>& entries,
                                     const std::string& address);

}  // namespace vistrelle::netlocal
