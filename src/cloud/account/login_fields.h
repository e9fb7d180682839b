#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/value/value.h"

namespace vistrelle::cloud {

// The session's fields as a dictionary (a token reply, or the stored one)
// fills them, each from the key of its own name.
struct LoginFields {
  std::optional<std::string> clientId;
  std::optional<std::string> token_type;
  std::optional<std::string> access_token;
  std::optional<std::string> refresh_token;
  std::optional<std::string> user_id;
  std::optional<std::string> username;
  std::optional<std::string> nickName;
  std::optional<std::string> avatar;
  std::optional<std::string> phone;
  std::optional<int64_t> tokenExpireTime;

  // None when `dictionary` is not a dictionary or holds no entries: it
  // gives no session.  A text field takes a text, or a number's text.
  static std::optional<LoginFields> fromDictionary(const Value& dictionary);

  bool operator==(const LoginFields& other) const = default;
};

// The text that a value stands for where text is expected: a text as it is,
// a number written out (10001 as "10001"); none for anything else.
std::optional<std::string> textOf(const Value& value);

}  // namespace vistrelle::cloud
