#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/value/value.h"

namespace vistrelle::cloud::zerotier {

// A network's state as the service names it.  Saved files keep the number;
// a number outside the list is kept as it is and has no text.
enum class NetworkStatus : int32_t {
  requestingConfiguration = 0,  // "REQUESTING_CONFIGURATION"
  ok = 1,                       // "OK"
  accessDenied = 2,             // "ACCESS_DENIED"
  notFound = 3,                 // "NOT_FOUND"
  portError = 4,                // "PORT_ERROR"
  clientTooOld = 5,             // "CLIENT_TOO_OLD"
};

enum class NetworkType : int32_t {
  publicNetwork = 0,   // "PUBLIC"
  privateNetwork = 1,  // "PRIVATE"
};

// The service's text for a status, "" for a number outside the list; an
// unknown text reads as requestingConfiguration.
std::string networkStatusText(NetworkStatus status);
NetworkStatus networkStatusFromText(std::string_view text);
// "PUBLIC", "PRIVATE", or "".
std::string networkTypeText(NetworkType type);

// One network the local service knows, from its "/network" reply or from
// the saved list.
class Network {
 public:
  std::vector<std::string> assignedAddresses;
  bool bridge = false;
  bool broadcastEnabled = false;
  bool dhcp = false;
  std::string mac;
  int32_t mtu = 0;
  std::string name;
  int32_t netconfRevision = 0;
  uint64_t nwid = 0;
  std::string portDeviceName;
  int32_t portError = 0;
  NetworkStatus status = NetworkStatus::requestingConfiguration;
  NetworkType type = NetworkType::publicNetwork;
  bool allowManaged = false;
  bool allowGlobal = false;
  bool allowDefault = false;
  bool allowDNS = false;
  // Reported by the service just now; never saved.
  bool connected = false;

  // One element of the "/network" reply; `connected` is true.  Keys that are
  // absent or of the wrong type keep their defaults.  None when the element
  // is not an object or its "nwid" is not hexadecimal text: without its id
  // a network would be merged with unrelated ones.
  static std::optional<Network> initWithJsonData(const nlohmann::json& object);

  // One object of the saved file (the archive keys, "nwid" an unsigned
  // number), and back.  Decoding sets only what the object holds, so
  // "allowDNS" is false when absent and `connected` is always false.  None
  // when the object has no valid "nwid".
  static std::optional<Network> initWithCoder(const nlohmann::json& object);
  nlohmann::ordered_json encodeWithCoder() const;

  // As a notification carries it: the service's keys, "nwid" as its 16
  // hexadecimal digits, and "connected".
  Value toValue() const;

  std::string statusString() const { return networkStatusText(status); }
  std::string typeString() const { return networkTypeText(type); }

  bool hasSameNetworkId(uint64_t networkId) const { return nwid == networkId; }
  // Every property but `portError`.
  bool isEqualToNetwork(const Network& other) const;
  bool operator==(const Network& other) const { return isEqualToNetwork(other); }
  // Over the properties isEqualToNetwork compares.
  size_t hash() const;

  // Some network that is connected allows a default route.
  static bool defaultRouteExists(const std::vector<Network>& networks);

  // A network id as the service writes it: 1 to 16 hexadecimal digits.
  static std::optional<uint64_t> parseNetworkId(std::string_view text);
  // 16 lowercase hexadecimal digits.
  static std::string networkIdText(uint64_t networkId);
};

}  // namespace vistrelle::cloud::zerotier
