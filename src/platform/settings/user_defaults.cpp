#include "platform/settings/user_defaults.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/settings/linux/json_file_user_defaults.h"
#include "platform/settings/user_directories.h"

namespace vistrelle {

std::optional<int64_t> UserDefaults::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->asInt() : std::nullopt;
}

std::optional<float> UserDefaults::floatForKey(const std::string& key) const {
  auto value = doubleForKey(key);
  if (!value) return std::nullopt;
  return static_cast<float>(*value);
}

std::optional<double> UserDefaults::doubleForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->asDouble() : std::nullopt;
}

std::optional<bool> UserDefaults::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->asBool() : std::nullopt;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->isString()) return std::nullopt;
  return *value->asString();
}

std::optional<Value::Map> UserDefaults::dictionaryForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value || !value->isMap()) return std::nullopt;
  return *value->asMap();
}

void UserDefaults::setFloat(const std::string& key, float value) {
  if (!std::isfinite(value)) {
    setObject(key, Value(static_cast<double>(value)));
    return;
  }
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  double shortest = static_cast<double>(value);
  if (ec == std::errc()) {
    *end = '\0';
    shortest = std::strtod(text, nullptr);
  }
  setObject(key, Value(shortest));
}

std::string UserDefaults::standardPath() {
  return UserDirectories::config() + "/vistrelle/user-defaults.json";
}

UserDefaults& UserDefaults::standard() {
  // Lives as long as the process: settings may be written during exit.
  static UserDefaults* store = new JsonFileUserDefaults(standardPath());
  return *store;
}

}  // namespace vistrelle
