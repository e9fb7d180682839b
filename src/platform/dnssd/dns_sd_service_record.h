#pragma once

#include <cstdint>
#include <string>

namespace vistrelle::dnssd {

// The address family a service was seen on, or on which to look it up.
enum class DnsSdFamily { Any, IPv4, IPv6 };

// One service instance as a search reports it: its name, its type
// ("_nvstream._tcp") and its domain ("local"), with the interface and family
// it was seen on, which a later look-up of it uses.
struct DnsSdServiceRecord {
  std::string name;
  std::string type;
  std::string domain;
  int interfaceIndex = -1;  // -1: any
  DnsSdFamily family = DnsSdFamily::Any;

  bool operator==(const DnsSdServiceRecord&) const = default;
};

// What to announce.  An empty name means the host's name, an empty domain
// the default one; a type may carry a trailing dot ("_Server._tcp.").
struct DnsSdRegistration {
  std::string name;
  std::string type;
  std::string domain;
  uint16_t port = 0;
};

}  // namespace vistrelle::dnssd
