#include "cloud/zerotier/node_status.h"

#include "cloud/zerotier/json_fields.h"

namespace vistrelle::cloud::zerotier {

std::optional<NodeStatus> NodeStatus::initWithJsonData(const nlohmann::json& object) {
  if (!object.is_object()) return std::nullopt;
  const JsonFields fields(object);
  NodeStatus status;
  fields.readString("address", status.address);
  fields.readString("publicIdentity", status.publicIdentity);
  fields.readBool("online", status.online);
  fields.readBool("tcpFallbackActive", status.tcpFallbackActive);
  fields.readInt32("versionMajor", status.versionMajor);
  fields.readInt32("versionMinor", status.versionMinor);
  fields.readInt32("versionRev", status.versionRev);
  fields.readString("version", status.version);
  fields.readUInt64("clock", status.clock);
  return status;
}

Value NodeStatus::toValue() const {
  return Value::Map{{"address", address},
                    {"publicIdentity", publicIdentity},
                    {"online", online},
                    {"tcpFallbackActive", tcpFallbackActive},
                    {"versionMajor", versionMajor},
                    {"versionMinor", versionMinor},
                    {"versionRev", versionRev},
                    {"version", version},
                    // The bits as they are: a clock past 2^63 reads back whole.
                    {"clock", static_cast<int64_t>(clock)}};
}

std::optional<NodeStatus> NodeStatus::fromValue(const Value& value) {
  if (!value.isMap()) return std::nullopt;
  NodeStatus status;
  status.address = value["address"].stringOr("");
  status.publicIdentity = value["publicIdentity"].stringOr("");
  status.online = value["online"].boolOr(false);
  status.tcpFallbackActive = value["tcpFallbackActive"].boolOr(false);
  status.versionMajor = static_cast<int32_t>(value["versionMajor"].intOr(0));
  status.versionMinor = static_cast<int32_t>(value["versionMinor"].intOr(0));
  status.versionRev = static_cast<int32_t>(value["versionRev"].intOr(0));
  status.version = value["version"].stringOr("");
  status.clock = static_cast<uint64_t>(value["clock"].intOr(0));
  return status;
}

}  // namespace vistrelle::cloud::zerotier
