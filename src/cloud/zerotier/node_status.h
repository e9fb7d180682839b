#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/value/value.h"

namespace vistrelle::cloud::zerotier {

// The local service's own node, as "/status" reports it.  Only these keys
// are read; a key of the wrong type is ignored as if absent.
struct NodeStatus {
  std::string address;
  std::string publicIdentity;
  bool online = false;
  bool tcpFallbackActive = false;
  int32_t versionMajor = 0;
  int32_t versionMinor = 0;
  int32_t versionRev = 0;
  std::string version;
  uint64_t clock = 0;

  // None when the reply is not a JSON object.
  static std::optional<NodeStatus> initWithJsonData(const nlohmann::json& object);

  // As a notification carries it (the JSON keys), and back.
  Value toValue() const;
  static std::optional<NodeStatus> fromValue(const Value& value);

  bool operator==(const NodeStatus& other) const = default;
};

}  // namespace vistrelle::cloud::zerotier
