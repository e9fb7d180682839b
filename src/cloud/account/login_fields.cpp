#include "cloud/account/login_fields.h"

#include <charconv>

namespace vistrelle::cloud {

namespace {

std::optional<int64_t> integerOf(const Value& value) {
  if (value.isInteger()) return value.asInt();
  if (value.isDouble()) {
    const double number = *value.asDouble();
    // Only what an int64_t holds exactly; anything else is no time at all.
    if (number >= -9.2e18 && number <= 9.2e18) return static_cast<int64_t>(number);
    return std::nullopt;
  }
  if (const std::string* text = value.asString()) {
    int64_t number = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, number);
    if (error == std::errc() && stop == end && !text->empty()) return number;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> textOf(const Value& value) {
  if (const std::string* text = value.asString()) return *text;
  if (value.isInteger()) return std::to_string(*value.asInt());
  if (value.isDouble()) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, *value.asDouble());
    if (error == std::errc()) return std::string(buffer, end);
  }
  return std::nullopt;
}

std::optional<LoginFields> LoginFields::fromDictionary(const Value& dictionary) {
  const Value::Map* map = dictionary.asMap();
  if (map == nullptr || map->empty()) return std::nullopt;
  LoginFields fields;
  fields.clientId = textOf(dictionary["clientId"]);
  fields.token_type = textOf(dictionary["token_type"]);
  fields.access_token = textOf(dictionary["access_token"]);
  fields.refresh_token = textOf(dictionary["refresh_token"]);
  fields.user_id = textOf(dictionary["user_id"]);
  fields.username = textOf(dictionary["username"]);
  fields.nickName = textOf(dictionary["nickName"]);
  fields.avatar = textOf(dictionary["avatar"]);
  fields.phone = textOf(dictionary["phone"]);
  fields.tokenExpireTime = integerOf(dictionary["tokenExpireTime"]);
  return fields;
}

}  // namespace vistrelle::cloud
