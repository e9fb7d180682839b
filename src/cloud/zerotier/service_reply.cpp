#include "cloud/zerotier/service_reply.h"

#include "cloud/zerotier/json_fields.h"

namespace vistrelle::cloud::zerotier {

std::optional<NodeStatus> ServiceReply::nodeStatus(std::string_view body, std::string* error) {
  const nlohmann::json root = JsonFields::parse(body);
  if (root.is_discarded()) {
    if (error) *error = kNotJsonText;
    return std::nullopt;
  }
  std::optional<NodeStatus> status = NodeStatus::initWithJsonData(root);
  if (!status && error) *error = kNotObjectText;
  return status;
}

std::optional<std::vector<Network>> ServiceReply::networkList(std::string_view body,
                                                              std::string* error) {
  const nlohmann::json root = JsonFields::parse(body);
  if (root.is_discarded() || !root.is_array()) {
    if (error) *error = root.is_discarded() ? kNotJsonText : kNotArrayText;
    return std::nullopt;
  }
  std::vector<Network> networks;
  networks.reserve(root.size());
  for (const nlohmann::json& element : root) {
    if (std::optional<Network> network = Network::initWithJsonData(element)) {
      networks.push_back(std::move(*network));
    }
  }
  return networks;
}

}  // namespace vistrelle::cloud::zerotier
