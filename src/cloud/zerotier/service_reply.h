#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloud/zerotier/network.h"
#include "cloud/zerotier/node_status.h"

namespace vistrelle::cloud::zerotier {

// The bodies of the service's 200 replies.  A body that is not the JSON
// expected gives none and a description of what is wrong (for the log; it
// never quotes the body).
class ServiceReply {
 public:
  // "/status": an object.
  static std::optional<NodeStatus> nodeStatus(std::string_view body, std::string* error);
  // "/network": an array; elements that are not networks (no hexadecimal
  // "nwid", not an object) are skipped, the rest kept in reply order.
  static std::optional<std::vector<Network>> networkList(std::string_view body, std::string* error);

  static constexpr const char* kNotJsonText = "The reply is not JSON";
  static constexpr const char* kNotObjectText = "The reply is not a JSON object";
  static constexpr const char* kNotArrayText = "The reply is not a JSON array";
};

}  // namespace vistrelle::cloud::zerotier
