#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/value/value.h"

namespace vistrelle::netlocal {

// The companion connection's wire form: each message is one compact JSON
// object in UTF-8 followed by CR LF.
class CompanionLine {
 public:
  // Objects and arrays nested deeper than this (the message itself is level
  // 1) are not written; no message of ours comes near.
  static constexpr size_t kMaxDepth = 64;

  // The JSON text of `message` without the line end.  A number that is not
  // finite is written as 0, so one bad float never costs a whole table.  None
  // when a text is not UTF-8 or the tree is deeper than kMaxDepth.
  static std::optional<std::string> jsonText(const Value::Map& message);
  // jsonText followed by CR LF.
  static std::optional<std::string> encode(const Value::Map& message);

  // The message's "type" read as an integer: integers as they are, other
  // numbers toward zero, a text by its leading decimal digits ("7" is 7), and
  // 0 for anything else, a missing key included.
  static int64_t typeOf(const Value::Map& message);
  static int64_t integerValue(const Value& value);
  // The same reading of a text: leading white space, a sign, then digits;
  // saturates at the 64-bit limits.
  static int64_t integerValueOfText(std::string_view text);
};

}  // namespace vistrelle::netlocal
