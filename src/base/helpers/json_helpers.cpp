#include "base/helpers/json_helpers.h"

#include <cxxabi.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "platform/value/json_nesting.h"

namespace vistrelle::base {

namespace {

bool isWritable(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::object:
    case nlohmann::json::value_t::array:
      for (const auto& element : value) {
        if (!isWritable(element)) return false;
      }
      return true;
    case nlohmann::json::value_t::number_float:
      return std::isfinite(value.get<double>());
    case nlohmann::json::value_t::binary:
    case nlohmann::json::value_t::discarded:
      return false;
    default:
      return true;
  }
}

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

}  // namespace

bool isValidJSONObject(const nlohmann::json& value) {
  return (value.is_object() || value.is_array()) && isWritable(value);
}

std::optional<std::string> dataCheckJsonWithJSONObject(const nlohmann::json& value,
                                                       JsonWriting writing) {
  if (!isValidJSONObject(value)) return std::nullopt;
  try {
    return value.dump(writing == JsonWriting::PrettyPrinted ? 2 : -1, ' ', false,
                      nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::type_error&) {
    // The only failure of a strict dump: a string that is not valid UTF-8.
    return std::nullopt;
  }
}

std::optional<std::string> toJSONString(const nlohmann::json& value) {
  return dataCheckJsonWithJSONObject(value, JsonWriting::PrettyPrinted);
}

std::string toJSONStringForDisplay(const nlohmann::json& value) {
  if (!isValidJSONObject(value)) return std::string(kNotJsonText);
  if (auto text = toJSONString(value)) return std::move(*text);
  return std::string(kEmptyJsonText);
}

std::optional<nlohmann::json> jsonStringToDictionary(std::string_view text) {
  if (jsonNestsDeeperThan(text, kMaxJsonDepth)) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return std::nullopt;
  return value;
}

std::string className(const std::type_info& type) {
  int status = 0;
  const std::unique_ptr<char, FreeDeleter> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status));
  const std::string name = status == 0 && demangled ? demangled.get() : type.name();
  // The last "::" outside template arguments ends the namespaces.
  std::size_t start = 0;
  int depth = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '<') {
      ++depth;
    } else if (name[i] == '>') {
      --depth;
    } else if (depth == 0 && name.compare(i, 2, "::") == 0) {
      start = i + 2;
      ++i;
    }
  }
  return name.substr(start);
}

}  // namespace vistrelle::base
