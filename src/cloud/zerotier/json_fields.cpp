#include "cloud/zerotier/json_fields.h"

#include <limits>

#include "base/helpers/json_helpers.h"

namespace vistrelle::cloud::zerotier {

nlohmann::json JsonFields::parse(std::string_view text) {
  bool tooDeep = false;
  // Values past the limit are dropped as they are met, and the whole text
  // refused afterwards.
  const nlohmann::json::parser_callback_t limitDepth =
      [&tooDeep](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth <= static_cast<int>(base::kMaxJsonDepth)) return true;
        tooDeep = true;
        return false;
      };
  nlohmann::json value = nlohmann::json::parse(text, limitDepth, false);
  if (tooDeep) return nlohmann::json(nlohmann::json::value_t::discarded);
  return value;
}

const nlohmann::json* JsonFields::find(std::string_view key) const {
  if (!object_.is_object()) return nullptr;
  const auto found = object_.find(key);
  return found == object_.end() ? nullptr : &*found;
}

bool JsonFields::has(std::string_view key) const {
  return find(key) != nullptr;
}

bool JsonFields::readBool(std::string_view key, bool& out) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr || !value->is_boolean()) return false;
  out = value->get<bool>();
  return true;
}

bool JsonFields::readString(std::string_view key, std::string& out) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr || !value->is_string()) return false;
  out = value->get<std::string>();
  return true;
}

bool JsonFields::readInt32(std::string_view key, int32_t& out) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr) return false;
  if (value->is_number_unsigned()) {
    const auto number = value->get<uint64_t>();
    if (number > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return false;
    out = static_cast<int32_t>(number);
    return true;
  }
  if (!value->is_number_integer()) return false;
  const auto number = value->get<int64_t>();
  if (number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  out = static_cast<int32_t>(number);
  return true;
}

bool JsonFields::readUInt64(std::string_view key, uint64_t& out) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr) return false;
  if (value->is_number_unsigned()) {
    out = value->get<uint64_t>();
    return true;
  }
  if (!value->is_number_integer() || value->get<int64_t>() < 0) return false;
  out = static_cast<uint64_t>(value->get<int64_t>());
  return true;
}

bool JsonFields::readStrings(std::string_view key, std::vector<std::string>& out) const {
  const nlohmann::json* value = find(key);
  if (value == nullptr || !value->is_array()) return false;
  std::vector<std::string> texts;
  texts.reserve(value->size());
  for (const nlohmann::json& element : *value) {
    if (!element.is_string()) return false;
    texts.push_back(element.get<std::string>());
  }
  out = std::move(texts);
  return true;
}

}  // namespace vistrelle::cloud::zerotier
