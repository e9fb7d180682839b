// Fuzz target: the settings store's loader, fed the bytes of its file.  The
// store must load anything without crashing, stay writable after loading a
// file that parsed, and write back what it read: every top-level value reads
// the same from a second store opened on the rewritten file.
// Input: the whole file.
// Links: vistrelle_platform_settings nlohmann_json::nlohmann_json

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/settings/linux/json_file_user_defaults.h"

namespace {

using vistrelle::JsonFileUserDefaults;

constexpr const char* kProbeKey =
    "\x01"
    "fuzz probe";

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

  loaded.setInteger(kProbeKey, 1);
  FUZZ_CHECK(loaded.synchronize());
  const JsonFileUserDefaults reread(path, quiet);
  FUZZ_CHECK(reread.integerForKey(kProbeKey) == 1);
  for (auto it = root.begin(); it != root.end(); ++it) {
    FUZZ_CHECK(loaded.objectForKey(it.key()) == reread.objectForKey(it.key()));
  }
  return 0;
}
