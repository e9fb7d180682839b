#include "cloud/update/release_offer.h"

#include <algorithm>
#include <cctype>

#include "base/helpers/numeric_compare.h"

namespace vistrelle::cloud {
namespace {

// The entry as text; empty when it is missing or not text.
std::string textEntry(const nlohmann::json& data, const char* key) {
  const auto found = data.find(key);
  if (found == data.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

std::optional<std::string> statedDigest(const nlohmann::json& data) {
  const auto found = data.find("sha256");
  if (found == data.end() || found->is_null()) return std::nullopt;
  if (!found->is_string()) return std::string("(not a text)");
  std::string digest = found->get<std::string>();
  if (digest.empty()) return std::nullopt;
  std::transform(digest.begin(), digest.end(), digest.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return digest;
}

}  // namespace

std::string effectiveLocalVersion(std::string_view version) {
  return version.empty() ? std::string("1.0.0.0") : std::string(version);
}

std::optional<ReleaseOffer> releaseOfferFrom(const ReplyEnvelope& envelope,
                                             std::string_view localVersion,
                                             std::string_view apiBase) {
  if (!envelope.success || !envelope.dataObject || !envelope.dataObject->is_object()) {
    return std::nullopt;
  }
  const nlohmann::json& data = *envelope.dataObject;
  ReleaseOffer offer;
  offer.version = textEntry(data, "version");
  // An empty server version orders before (or with) any local one.
  if (base::numericCompare(effectiveLocalVersion(localVersion), offer.version) >= 0) {
    return std::nullopt;
  }
  const std::string downloadPath = textEntry(data, "downloadUrl");
  // Without a path the "package" would be the API base itself.
  if (downloadPath.empty()) return std::nullopt;
  offer.releaseNote = textEntry(data, "releaseNote");
  offer.packageUrl = std::string(apiBase) + downloadPath;
  offer.sha256 = statedDigest(data);
  return offer;
}

}  // namespace vistrelle::cloud
