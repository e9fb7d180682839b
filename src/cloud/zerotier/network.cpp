#include "cloud/zerotier/network.h"

#include <array>
#include <cstdio>
#include <functional>

#include "cloud/zerotier/json_fields.h"

namespace vistrelle::cloud::zerotier {

namespace {

constexpr std::array<std::string_view, 6> kStatusTexts = {
    "REQUESTING_CONFIGURATION", "OK", "ACCESS_DENIED", "NOT_FOUND", "PORT_ERROR", "CLIENT_TOO_OLD"};

}  // namespace

std::string networkStatusText(NetworkStatus status) {
  const auto index = static_cast<int32_t>(status);
  if (index < 0 || index >= static_cast<int32_t>(kStatusTexts.size())) return {};
  return std::string(kStatusTexts[static_cast<size_t>(index)]);
}

NetworkStatus networkStatusFromText(std::string_view text) {
  for (size_t i = 0; i < kStatusTexts.size(); ++i) {
    if (kStatusTexts[i] == text) return static_cast<NetworkStatus>(i);
  }
  return NetworkStatus::requestingConfiguration;
}

std::string networkTypeText(NetworkType type) {
  switch (type) {
    case NetworkType::publicNetwork:
      return "PUBLIC";
    case NetworkType::privateNetwork:
      return "PRIVATE";
  }
  return {};
}

std::optional<Network> Network::initWithJsonData(const nlohmann::json& object) {
  if (!object.is_object()) return std::nullopt;
  const JsonFields fields(object);
  std::string id;
  if (!fields.readString("nwid", id)) return std::nullopt;
  const std::optional<uint64_t> nwid = parseNetworkId(id);
  if (!nwid) return std::nullopt;

  Network network;
  network.nwid = *nwid;
  fields.readStrings("assignedAddresses", network.assignedAddresses);
  fields.readBool("bridge", network.bridge);
  fields.readBool("broadcastEnabled", network.broadcastEnabled);
  fields.readBool("dhcp", network.dhcp);
  fields.readString("mac", network.mac);
  fields.readInt32("mtu", network.mtu);
  fields.readString("name", network.name);
  fields.readInt32("netconfRevision", network.netconfRevision);
  fields.readString("portDeviceName", network.portDeviceName);
  fields.readInt32("portError", network.portError);
  if (std::string status; fields.readString("status", status)) {
    network.status = networkStatusFromText(status);
  }
  if (std::string type; fields.readString("type", type)) {
    if (type == "PRIVATE") network.type = NetworkType::privateNetwork;
    if (type == "PUBLIC") network.type = NetworkType::publicNetwork;
  }
  fields.readBool("allowManaged", network.allowManaged);
  fields.readBool("allowGlobal", network.allowGlobal);
  fields.readBool("allowDefault", network.allowDefault);
  fields.readBool("allowDNS", network.allowDNS);
  network.connected = true;
  return network;
}

std::optional<Network> Network::initWithCoder(const nlohmann::json& object) {
  if (!object.is_object()) return std::nullopt;
  const JsonFields fields(object);
  Network network;
  if (!fields.readUInt64("nwid", network.nwid)) return std::nullopt;
  fields.readStrings("addresses", network.assignedAddresses);
  fields.readBool("bridge", network.bridge);
  fields.readBool("broadcast", network.broadcastEnabled);
  fields.readBool("dhcp", network.dhcp);
  fields.readString("mac", network.mac);
  fields.readInt32("mtu", network.mtu);
  fields.readString("name", network.name);
  fields.readInt32("netconf", network.netconfRevision);
  fields.readString("port", network.portDeviceName);
  fields.readInt32("portError", network.portError);
  if (int32_t status = 0; fields.readInt32("status", status)) {
    network.status = static_cast<NetworkStatus>(status);
  }
  if (int32_t type = 0; fields.readInt32("type", type)) {
    network.type = static_cast<NetworkType>(type);
  }
  fields.readBool("allowManaged", network.allowManaged);
  fields.readBool("allowGlobal", network.allowGlobal);
  fields.readBool("allowDefault", network.allowDefault);
  fields.readBool("allowDNS", network.allowDNS);
  return network;
}

nlohmann::ordered_json Network::encodeWithCoder() const {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  object["addresses"] = assignedAddresses;
  object["bridge"] = bridge;
  object["broadcast"] = broadcastEnabled;
  object["dhcp"] = dhcp;
  object["mac"] = mac;
  object["mtu"] = mtu;
  object["name"] = name;
  object["netconf"] = netconfRevision;
  object["nwid"] = nwid;
  object["port"] = portDeviceName;
  object["portError"] = portError;
  object["status"] = static_cast<int32_t>(status);
  object["type"] = static_cast<int32_t>(type);
  object["allowManaged"] = allowManaged;
  object["allowGlobal"] = allowGlobal;
  object["allowDefault"] = allowDefault;
  object["allowDNS"] = allowDNS;
  return object;
}

Value Network::toValue() const {
  Value::List addresses;
  addresses.reserve(assignedAddresses.size());
  for (const std::string& address : assignedAddresses) addresses.emplace_back(address);
  return Value::Map{{"assignedAddresses", std::move(addresses)},
                    {"bridge", bridge},
                    {"broadcastEnabled", broadcastEnabled},
                    {"dhcp", dhcp},
                    {"mac", mac},
                    {"mtu", mtu},
                    {"name", name},
                    {"netconfRevision", netconfRevision},
                    {"nwid", networkIdText(nwid)},
                    {"portDeviceName", portDeviceName},
                    {"portError", portError},
                    {"status", statusString()},
                    {"type", typeString()},
                    {"allowManaged", allowManaged},
                    {"allowGlobal", allowGlobal},
                    {"allowDefault", allowDefault},
                    {"allowDNS", allowDNS},
                    {"connected", connected}};
}

bool Network::isEqualToNetwork(const Network& other) const {
  return assignedAddresses == other.assignedAddresses && bridge == other.bridge &&
         broadcastEnabled == other.broadcastEnabled && dhcp == other.dhcp && mac == other.mac &&
         mtu == other.mtu && name == other.name && netconfRevision == other.netconfRevision &&
         nwid == other.nwid && portDeviceName == other.portDeviceName && status == other.status &&
         type == other.type && allowManaged == other.allowManaged &&
         allowGlobal == other.allowGlobal && allowDefault == other.allowDefault &&
         allowDNS == other.allowDNS && connected == other.connected;
}

size_t Network::hash() const {
  const std::hash<std::string> text;
  size_t addresses = 0;
  for (const std::string& address : assignedAddresses) addresses = addresses * 31 + text(address);
  const auto flag = [](bool value, int bit) { return static_cast<size_t>(value) << bit; };
  return addresses ^ text(mac) ^ text(name) ^ text(portDeviceName) ^ flag(bridge, 0) ^
         flag(broadcastEnabled, 1) ^ flag(dhcp, 2) ^ flag(allowManaged, 3) ^ flag(allowGlobal, 4) ^
         flag(allowDefault, 5) ^ flag(allowDNS, 6) ^ flag(connected, 7) ^
         static_cast<size_t>(static_cast<uint32_t>(mtu)) ^
         static_cast<size_t>(static_cast<uint32_t>(netconfRevision)) ^ static_cast<size_t>(nwid) ^
         static_cast<size_t>(static_cast<uint32_t>(status)) ^
         static_cast<size_t>(static_cast<uint32_t>(type));
}

bool Network::defaultRouteExists(const std::vector<Network>& networks) {
  for (const Network& network : networks) {
    if (network.allowDefault && network.connected) return true;
  }
  return false;
}

std::optional<uint64_t> Network::parseNetworkId(std::string_view text) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return value;
}

std::string Network::networkIdText(uint64_t networkId) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(networkId));
  return text;
}

}  // namespace vistrelle::cloud::zerotier
