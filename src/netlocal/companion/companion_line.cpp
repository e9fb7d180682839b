#include "netlocal/companion/companion_line.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "base/helpers/json_helpers.h"

namespace vistrelle::netlocal {

namespace {

std::optional<nlohmann::json> toJson(const Value& value, size_t depth) {
  const Value::Storage& storage = value.storage();
  if ((value.isMap() || value.isList()) && depth > CompanionLine::kMaxDepth) return std::nullopt;
  if (std::holds_alternative<std::monostate>(storage)) return nlohmann::json(nullptr);
  if (const bool* b = std::get_if<bool>(&storage)) return nlohmann::json(*b);
  if (const int64_t* i = std::get_if<int64_t>(&storage)) return nlohmann::json(*i);
  if (const double* d = std::get_if<double>(&storage)) {
    if (!std::isfinite(*d)) return nlohmann::json(0);
    return nlohmann::json(*d);
  }
  if (const std::string* s = std::get_if<std::string>(&storage)) return nlohmann::json(*s);
  if (const Value::Map* map = std::get_if<Value::Map>(&storage)) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [key, entry] : *map) {
      std::optional<nlohmann::json> converted = toJson(entry, depth + 1);
      if (!converted) return std::nullopt;
      object[key] = std::move(*converted);
    }
    return object;
  }
  nlohmann::json array = nlohmann::json::array();
  for (const Value& entry : std::get<Value::List>(storage)) {
    std::optional<nlohmann::json> converted = toJson(entry, depth + 1);
    if (!converted) return std::nullopt;
    array.push_back(std::move(*converted));
  }
  return array;
}

}  // namespace

std::optional<std::string> CompanionLine::jsonText(const Value::Map& message) {
  nlohmann::json json = nlohmann::json::object();
  for (const auto& [key, entry] : message) {
    std::optional<nlohmann::json> converted = toJson(entry, 2);
    if (!converted) return std::nullopt;
    json[key] = std::move(*converted);
  }
  return base::dataCheckJsonWithJSONObject(json, base::JsonWriting::Compact);
}

std::optional<std::string> CompanionLine::encode(const Value::Map& message) {
  std::optional<std::string> text = jsonText(message);
  if (text) text->append("\r\n");
  return text;
}

int64_t CompanionLine::typeOf(const Value::Map& message) {
  const auto found = message.find("type");
  return found == message.end() ? 0 : integerValue(found->second);
}

int64_t CompanionLine::integerValue(const Value& value) {
  if (const std::string* text = value.asString()) return integerValueOfText(*text);
  if (const auto number = value.asInt()) return *number;
  if (const auto real = value.asDouble(); real && !std::isnan(*real)) {
    // Beyond the 64-bit range: the nearest limit.
    return *real > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return 0;
}

int64_t CompanionLine::integerValueOfText(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  // Accumulated as a negative number, whose range holds the minimum.
  int64_t value = 0;
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    const int digit = text[at] - '0';
    if (value < (kMin + digit) / 10) {
      return negative ? kMin : std::numeric_limits<int64_t>::max();
    }
    value = value * 10 - digit;
  }
  if (negative) return value;
  return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

}  // namespace vistrelle::netlocal
