#include "cloud/zerotier/network_file.h"

#include "cloud/zerotier/json_fields.h"
#include "cloud/zerotier/private_file.h"

namespace vistrelle::cloud::zerotier {

std::string NetworkFile::encode(const std::vector<Network>& networks) {
  nlohmann::ordered_json array = nlohmann::ordered_json::array();
  for (const Network& network : networks) array.push_back(network.encodeWithCoder());
  // Texts came from the service's JSON, so they are UTF-8; should one not
  // be, it is written with replacement characters rather than not at all.
  return array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::optional<std::vector<Network>> NetworkFile::decode(std::string_view text) {
  const nlohmann::json root = JsonFields::parse(text);
  if (!root.is_array()) return std::nullopt;
  std::vector<Network> networks;
  networks.reserve(root.size());
  for (const nlohmann::json& element : root) {
    if (std::optional<Network> network = Network::initWithCoder(element)) {
      networks.push_back(std::move(*network));
    }
  }
  return networks;
}

std::optional<std::vector<Network>> NetworkFile::read(const std::string& path) {
  const std::optional<std::string> text = PrivateFile::read(path, kMaxBytes, nullptr);
  if (!text) return std::nullopt;
  return decode(*text);
}

bool NetworkFile::write(const std::string& path, const std::vector<Network>& networks,
                        std::string* error) {
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 &&
      !PrivateFile::makeFolder(path.substr(0, slash), error)) {
    return false;
  }
  return PrivateFile::writeAtomically(path, encode(networks), error);
}

}  // namespace vistrelle::cloud::zerotier
