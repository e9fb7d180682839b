#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vistrelle {

// A loosely typed value as notification objects, user-info entries and stored
// settings carry them.  Numbers and booleans read alike, as the platform's
// number objects do: a status posted as integer 1 reads as true, true reads as
// 1, and 0.5 reads as integer 0.
class Value {
 public:
  using Map = std::map<std::string, Value>;
  using List = std::vector<Value>;
  using Storage = std::variant<std::monostate, bool, int64_t, double, std::string, Map, List>;

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool v) : storage_(v) {}
  Value(int v) : storage_(int64_t{v}) {}
  Value(unsigned v) : storage_(int64_t{v}) {}
  Value(long v) : storage_(int64_t{v}) {}
  Value(long long v) : storage_(int64_t{v}) {}
  Value(unsigned long v) : storage_(static_cast<int64_t>(v)) {}
  Value(float v) : storage_(double{v}) {}
  Value(double v) : storage_(v) {}
  Value(const char* v) : storage_(std::string(v)) {}
  Value(std::string v) : storage_(std::move(v)) {}
  Value(Map v) : storage_(std::move(v)) {}
  Value(List v) : storage_(std::move(v)) {}

  bool isNull() const { return std::holds_alternative<std::monostate>(storage_); }
  bool isBool() const { return std::holds_alternative<bool>(storage_); }
  bool isInteger() const { return std::holds_alternative<int64_t>(storage_); }
  bool isDouble() const { return std::holds_alternative<double>(storage_); }
  // Bool, integer or double.
  bool isNumber() const { return isBool() || isInteger() || isDouble(); }
  bool isString() const { return std::holds_alternative<std::string>(storage_); }
  bool isMap() const { return std::holds_alternative<Map>(storage_); }
  bool isList() const { return std::holds_alternative<List>(storage_); }

  // Lenient numeric reads: none unless the value is a number or a boolean.
  std::optional<bool> asBool() const;
  std::optional<int64_t> asInt() const;
  std::optional<double> asDouble() const;
  // Strict reads.
  const std::string* asString() const { return std::get_if<std::string>(&storage_); }
  const Map* asMap() const { return std::get_if<Map>(&storage_); }
  const List* asList() const { return std::get_if<List>(&storage_); }

  // Convenience with a fallback.
  bool boolOr(bool fallback) const { return asBool().value_or(fallback); }
  int64_t intOr(int64_t fallback) const { return asInt().value_or(fallback); }
  double doubleOr(double fallback) const { return asDouble().value_or(fallback); }
  std::string stringOr(std::string fallback) const;

  // Map lookup; null when this is not a map or has no such key.
  const Value& operator[](const std::string& key) const;

  const Storage& storage() const { return storage_; }
  bool operator==(const Value& other) const = default;

 private:
  Storage storage_;
};

}  // namespace vistrelle
