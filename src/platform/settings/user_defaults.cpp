#include "platform/settings/user_defaults.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/settings/linux/json_file_user_defaults.h"
#include "platform/settings/user_directories.h"

namespace vistrelle {

namespace {

// Well-formed UTF-8 as Unicode defines it: no overlong forms, no surrogates,
// nothing above U+10FFFF.  The file writer refuses anything else.
bool isUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char lead = *p++;
    if (lead < 0x80) continue;
    size_t more = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < more) return false;
    if (*p < low || *p > high) return false;
    for (size_t i = 1; i < more; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    p += more;
  }
  return true;
}

// Walks at most `levelsLeft` levels deep, so a hostile value cannot exhaust
// the stack here.
std::optional<std::string> checkValue(const Value& value, size_t levelsLeft) {
  if (const std::string* text = value.asString()) {
    if (!isUtf8(*text)) return "a text that is not UTF-8";
    return std::nullopt;
  }
  if (!value.isMap() && !value.isList()) return std::nullopt;
  if (levelsLeft == 0) {
    return "nested deeper than " + std::to_string(UserDefaults::kMaxDepth) + " levels";
  }
  if (const Value::Map* map = value.asMap()) {
    for (const auto& [key, item] : *map) {
      if (!isUtf8(key)) return "a key that is not UTF-8";
      if (auto why = checkValue(item, levelsLeft - 1)) return why;
    }
  } else {
    for (const Value& item : *value.asList()) {
      if (auto why = checkValue(item, levelsLeft - 1)) return why;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> UserDefaults::refusalReason(const std::string& key, const Value& value) {
  if (!isUtf8(key)) return "the key is not UTF-8";
  // The document's top level takes one level.
  return checkValue(value, kMaxDepth - 1);
}

std::optional<int64_t> UserDefaults::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->asInt() : std::nullopt;
}

std::optional<float> UserDefaults::floatForKey(const std::string& key) const {
  auto value = doubleForKey(key);
  if (!value) return std::nullopt;
  // A stored number no float can hold reads as absent, like any value of
  // the wrong type (converting it would be undefined).
  if (std::isfinite(*value) && std::fabs(*value) > std::numeric_limits<float>::max()) {
    return std::nullopt;
  }
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
