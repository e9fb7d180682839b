#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/value/value.h"

namespace vistrelle {

// The per-user defaults store: flat string keys, each write durable before the
// call returns.  Typed reads give nothing when the stored value has another
// type (numbers and booleans read alike).  Implementations are thread-safe.
//
// A write the store cannot keep is refused and leaves the key as it was: a
// key or text that is not UTF-8, or a value nested deeper than kMaxDepth
// levels (a file the store wrote must always load again).
class UserDefaults {
 public:
  // Nesting levels of the stored document, its top level included.
  static constexpr size_t kMaxDepth = 32;

  virtual ~UserDefaults() = default;

  virtual std::optional<Value> objectForKey(const std::string& key) const = 0;
  virtual void setObject(const std::string& key, Value value) = 0;
  virtual void removeObjectForKey(const std::string& key) = 0;
  // True when the last write was kept and every write so far reached the
  // disk; false after a refused or failed write until a later one succeeds.
  virtual bool synchronize() = 0;

  // Why `value` cannot be stored under `key`; none when it can.
  static std::optional<std::string> refusalReason(const std::string& key, const Value& value);

  std::optional<int64_t> integerForKey(const std::string& key) const;
  std::optional<float> floatForKey(const std::string& key) const;
  std::optional<double> doubleForKey(const std::string& key) const;
  std::optional<bool> boolForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  std::optional<Value::Map> dictionaryForKey(const std::string& key) const;

  void setInteger(const std::string& key, int64_t value) { setObject(key, Value(value)); }
  // Stored as the shortest decimal that reads back as the same float, so 0.01f
  // is kept as 0.01 and read back as exactly 0.01f.
  void setFloat(const std::string& key, float value);
  void setDouble(const std::string& key, double value) { setObject(key, Value(value)); }
  void setBool(const std::string& key, bool value) { setObject(key, Value(value)); }
  void setString(const std::string& key, std::string value) {
    setObject(key, Value(std::move(value)));
  }
  void setDictionary(const std::string& key, Value::Map value) {
    setObject(key, Value(std::move(value)));
  }

  // The process' store: a JSON file under $XDG_CONFIG_HOME/vistrelle, opened
  // on first use (the path is read from the environment then).
  static UserDefaults& standard();
  static std::string standardPath();
};

}  // namespace vistrelle
