#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>

#include <nlohmann/json.hpp>

namespace vistrelle::base {

// Shown in place of a JSON text when the value cannot be written as JSON, and
// when the written bytes are not valid UTF-8.
inline constexpr std::string_view kNotJsonText = "无法转JSON";
inline constexpr std::string_view kEmptyJsonText = "空";

enum class JsonWriting { Compact, PrettyPrinted };

// Whether a value can be written as a JSON text: an object or array at the
// top, only finite numbers, and no binary or discarded values anywhere.
bool isValidJSONObject(const nlohmann::json& value);

// The value's JSON text with the given layout; none when the value is not
// valid (see isValidJSONObject) or its strings are not valid UTF-8.
std::optional<std::string> dataCheckJsonWithJSONObject(const nlohmann::json& value,
                                                       JsonWriting writing);

// The pretty-printed JSON text of a valid value; none otherwise.
std::optional<std::string> toJSONString(const nlohmann::json& value);

// toJSONString for callers that show the text: "无法转JSON" for an invalid
// value, "空" for one whose text is not valid UTF-8.
std::string toJSONStringForDisplay(const nlohmann::json& value);

// Deepest nesting of arrays and objects that jsonStringToDictionary accepts.
// Writing, comparing and walking a value recurse once per level, so a
// deeper text (a few hundred kilobytes of brackets) would overflow the stack
// of whoever touches the value next.
inline constexpr std::size_t kMaxJsonDepth = 512;

// The JSON object that a UTF-8 text holds; none when the text is not JSON,
// holds anything other than an object, or nests deeper than kMaxJsonDepth.
std::optional<nlohmann::json> jsonStringToDictionary(std::string_view text);

// A type's name without its namespaces: "vistrelle::base::Login" -> "Login",
// "std::vector<int, std::allocator<int> >" -> "vector<int, std::allocator<int> >".
std::string className(const std::type_info& type);

template <typename T>
std::string className(const T& object) {
  return className(typeid(object));
}

}  // namespace vistrelle::base
