#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vistrelle::cloud::zerotier {

// Typed reads of one key of a JSON object.  Each sets `out` only when the
// key is there with exactly the expected type (an integer within range), so
// a malformed field leaves the default in place instead of throwing.
class JsonFields {
 public:
  explicit JsonFields(const nlohmann::json& object) : object_(object) {}

  // The JSON value a reply or file holds; a discarded value when the text
  // is not JSON (UTF-8 included) or nests deeper than base::kMaxJsonDepth,
  // so that no value too deep to walk is ever built.
  static nlohmann::json parse(std::string_view text);

  bool has(std::string_view key) const;
  bool readBool(std::string_view key, bool& out) const;
  bool readString(std::string_view key, std::string& out) const;
  bool readInt32(std::string_view key, int32_t& out) const;
  bool readUInt64(std::string_view key, uint64_t& out) const;
  // An array whose every element is text.
  bool readStrings(std::string_view key, std::vector<std::string>& out) const;

 private:
  const nlohmann::json* find(std::string_view key) const;

  const nlohmann::json& object_;
};

}  // namespace vistrelle::cloud::zerotier
