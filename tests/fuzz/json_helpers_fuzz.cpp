// Fuzz target: the JSON helpers, fed a text as a server or a peer sends it.
// A text that holds an object must write back as JSON that parses to the
// same value, in both layouts.
// Input: the text.
// Links: vistrelle_base

#include <algorithm>
#include <string>

#include "base/helpers/json_helpers.h"
#include "base/helpers/utf8.h"
#include "fuzz/fuzz_support.h"

using namespace vistrelle::base;

namespace {

// Levels of arrays and objects (recursing is safe here: the helper let
// through no deeper value than its limit).
std::size_t depth(const nlohmann::json& value) {
  std::size_t deepest = 0;
  if (value.is_structured()) {
    for (const auto& element : value) deepest = std::max(deepest, depth(element));
    ++deepest;
  }
  return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = vistrelle::fuzz::ByteReader::asText({data, size});
  const std::optional<nlohmann::json> object = jsonStringToDictionary(text);
  if (!object) return 0;
  FUZZ_CHECK(object->is_object());
  FUZZ_CHECK(depth(*object) <= kMaxJsonDepth);
  // Parsed text holds only finite numbers and UTF-8 strings: always writable.
  FUZZ_CHECK(isValidJSONObject(*object));
  for (const JsonWriting writing : {JsonWriting::Compact, JsonWriting::PrettyPrinted}) {
    const std::optional<std::string> written = dataCheckJsonWithJSONObject(*object, writing);
    FUZZ_CHECK(written.has_value());
    FUZZ_CHECK(isValidUtf8(*written));
    const std::optional<nlohmann::json> again = jsonStringToDictionary(*written);
    FUZZ_CHECK(again.has_value() && *again == *object);
  }
  FUZZ_CHECK(toJSONStringForDisplay(*object) == toJSONString(*object));
  return 0;
}
