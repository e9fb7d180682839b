#include "platform/value/value.h"

#include <cmath>
#include <limits>

namespace vistrelle {

std::optional<bool> Value::asBool() const {
  if (auto b = std::get_if<bool>(&storage_)) return *b;
  if (auto i = std::get_if<int64_t>(&storage_)) return *i != 0;
  if (auto d = std::get_if<double>(&storage_)) return *d != 0.0;
  return std::nullopt;
}

std::optional<int64_t> Value::asInt() const {
  if (auto b = std::get_if<bool>(&storage_)) return *b ? 1 : 0;
  if (auto i = std::get_if<int64_t>(&storage_)) return *i;
  if (auto d = std::get_if<double>(&storage_)) {
    if (!std::isfinite(*d)) return std::nullopt;
    constexpr double kLimit = 9.2233720368547748e18;  // 2^63
    if (*d >= kLimit || *d < -kLimit) return std::nullopt;
    return static_cast<int64_t>(*d);  // toward zero, as integerValue does
  }
  return std::nullopt;
}

std::optional<double> Value::asDouble() const {
  if (auto b = std::get_if<bool>(&storage_)) return *b ? 1.0 : 0.0;
  if (auto i = std::get_if<int64_t>(&storage_)) return static_cast<double>(*i);
  if (auto d = std::get_if<double>(&storage_)) return *d;
  return std::nullopt;
}

std::string Value::stringOr(std::string fallback) const {
  if (auto s = asString()) return *s;
  return fallback;
}

const Value& Value::operator[](const std::string& key) const {
  static const Value kNull;
  if (auto map = asMap()) {
    auto found = map->find(key);
    if (found != map->end()) return found->second;
  }
  return kNull;
}

}  // namespace vistrelle
