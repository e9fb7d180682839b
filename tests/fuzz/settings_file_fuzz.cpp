// Fuzz target: the settings store's loader, fed the bytes of its file.  The
// store must load anything without crashing, read what the file says (or
// nothing, for a value it cannot hold), stay writable after loading a file
// that parsed, and write back what it read: every top-level value reads the
// same from a second store opened on the rewritten file.
// Input: the whole file.
// Links: vistrelle_platform_settings nlohmann_json::nlohmann_json

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/settings/linux/json_file_user_defaults.h"

namespace {

using vistrelle::JsonFileUserDefaults;

constexpr const char* kProbeKey =
    "\x01"
    "fuzz probe";

// Whether the store's value says what the file's does.  A number the store
// cannot hold (an integer above INT64_MAX) may read as nothing, never as
// another number.
bool readsAs(const vistrelle::Value& value, const nlohmann::json& node) {
  using nlohmann::json;
  switch (node.type()) {
    case json::value_t::null:
      return value.isNull();
    case json::value_t::boolean:
      return value.isBool() && value.asBool() == node.get<bool>();
    case json::value_t::number_integer:
      return value.isInteger() && value.asInt() == node.get<int64_t>();
    case json::value_t::number_unsigned:
      if (node.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) return value.isNull();
      return value.isInteger() && value.asInt() == static_cast<int64_t>(node.get<uint64_t>());
    case json::value_t::number_float:
      return value.isDouble() && value.asDouble() == node.get<double>();
    case json::value_t::string:
      return value.isString() && *value.asString() == node.get<std::string>();
    case json::value_t::array: {
      const vistrelle::Value::List* list = value.asList();
      if (list == nullptr || list->size() != node.size()) return false;
      for (size_t i = 0; i < list->size(); ++i) {
        if (!readsAs((*list)[i], node[i])) return false;
      }
      return true;
    }
    case json::value_t::object: {
      const vistrelle::Value::Map* map = value.asMap();
      if (map == nullptr || map->size() != node.size()) return false;
      for (const auto& [key, item] : *map) {
        if (!node.contains(key) || !readsAs(item, node[key])) return false;
      }
      return true;
    }
    default:
      return false;
  }
}

// Levels of arrays and objects, the outermost one counted (without
// recursing: the file may nest thousands deep).
size_t depth(const nlohmann::json& root) {
  size_t deepest = 0;
  std::vector<std::pair<const nlohmann::json*, size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    const auto [node, level] = pending.back();
    pending.pop_back();
    if (!node->is_structured()) continue;
    deepest = std::max(deepest, level);
    for (const auto& element : *node) pending.emplace_back(&element, level + 1);
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string folder = vistrelle::fuzz::scratchFolder() + "/settings";
  const std::string path = folder + "/user-defaults.json";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  const auto quiet = [](const std::string&) {};
  JsonFileUserDefaults loaded(path, quiet);
  // What the store should have read: the top-level keys of a JSON object.
  const nlohmann::json root = nlohmann::json::parse(
      vistrelle::fuzz::ByteReader::asText({data, size}), nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) return 0;

  // A file nested deeper than the store holds is kept aside, not read.
  const bool tooDeep = depth(root) > vistrelle::UserDefaults::kMaxDepth;
  FUZZ_CHECK(std::filesystem::exists(path + ".bad") == tooDeep);
  for (auto it = root.begin(); it != root.end(); ++it) {
    const std::optional<vistrelle::Value> value = loaded.objectForKey(it.key());
    FUZZ_CHECK(tooDeep ? !value.has_value()
                       : readsAs(value.value_or(vistrelle::Value()), it.value()));
  }

  loaded.setInteger(kProbeKey, 1);
  FUZZ_CHECK(loaded.synchronize());
  const JsonFileUserDefaults reread(path, quiet);
  FUZZ_CHECK(reread.integerForKey(kProbeKey) == 1);
  for (auto it = root.begin(); it != root.end(); ++it) {
    FUZZ_CHECK(loaded.objectForKey(it.key()) == reread.objectForKey(it.key()));
  }
  return 0;
}
