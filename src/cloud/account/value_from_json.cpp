#include "cloud/account/value_from_json.h"

#include <cstdint>
#include <limits>

namespace vistrelle::cloud {

Value valueFromJson(const nlohmann::json& json) {
  using Type = nlohmann::json::value_t;
  switch (json.type()) {
    case Type::boolean:
      return Value(json.get<bool>());
    case Type::number_integer:
      return Value(json.get<int64_t>());
    case Type::number_unsigned: {
      const auto number = json.get<uint64_t>();
      if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return Value();
      return Value(static_cast<int64_t>(number));
    }
    case Type::number_float:
      return Value(json.get<double>());
    case Type::string:
      return Value(json.get<std::string>());
    case Type::object: {
      Value::Map map;
      for (const auto& [key, item] : json.items()) map.emplace(key, valueFromJson(item));
      return Value(std::move(map));
    }
    case Type::array: {
      Value::List list;
      list.reserve(json.size());
      for (const auto& item : json) list.push_back(valueFromJson(item));
      return Value(std::move(list));
    }
    default:
      return Value();
  }
}

}  // namespace vistrelle::cloud
