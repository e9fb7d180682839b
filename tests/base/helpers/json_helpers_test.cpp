#include "base/helpers/json_helpers.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace vistrelle::base {
namespace {

using nlohmann::json;

TEST(JsonHelpers, WritesValidObjectsPrettyOrCompact) {
  const json value = {{"b", {1, 2.5, "三"}}, {"a", nullptr}, {"c", true}};
  EXPECT_TRUE(isValidJSONObject(value));
  EXPECT_EQ(dataCheckJsonWithJSONObject(value, JsonWriting::Compact),
            R"({"a":null,"b":[1,2.5,"三"],"c":true})");
  const auto pretty = toJSONString(value);
  ASSERT_TRUE(pretty.has_value());
  EXPECT_EQ(json::parse(*pretty), value);
  EXPECT_NE(pretty->find("\n  \"a\": null"), std::string::npos) << *pretty;
  EXPECT_EQ(toJSONStringForDisplay(value), *pretty);
  EXPECT_EQ(toJSONString(json::array()), "[]");
}

TEST(JsonHelpers, RejectsWhatIsNotAJsonText) {
  const std::vector<std::pair<const char*, json>> invalid = {
      {"scalar at the top", json(42)},
      {"text at the top", json("text")},
      {"null at the top", json(nullptr)},
      {"NaN inside", json{{"depth", std::numeric_limits<double>::quiet_NaN()}}},
      {"infinity inside", json::array({1, std::numeric_limits<double>::infinity()})},
      {"binary inside", json{{"raw", json::binary({1, 2, 3})}}},
      {"discarded inside", json::array({json(json::value_t::discarded)})},
  };
  for (const auto& [what, value] : invalid) {
    EXPECT_FALSE(isValidJSONObject(value)) << what;
    EXPECT_EQ(dataCheckJsonWithJSONObject(value, JsonWriting::Compact), std::nullopt) << what;
    EXPECT_EQ(toJSONString(value), std::nullopt) << what;
    EXPECT_EQ(toJSONStringForDisplay(value), "无法转JSON") << what;
  }
}

TEST(JsonHelpers, TextThatIsNotUtf8IsShownAsEmpty) {
  const json value = {{"name", std::string("\xff\xfe")}};
  EXPECT_TRUE(isValidJSONObject(value));
  EXPECT_EQ(toJSONString(value), std::nullopt);
  EXPECT_EQ(toJSONStringForDisplay(value), "空");
}

TEST(JsonHelpers, ParsesOnlyObjects) {
  const auto dictionary = jsonStringToDictionary(R"({"type": 1, "value": [0.5]})");
  ASSERT_TRUE(dictionary.has_value());
  EXPECT_EQ((*dictionary)["type"], 1);
  EXPECT_EQ((*dictionary)["value"][0], 0.5);
  for (const char* text :
       {"", "[1, 2]", "\"text\"", "{\"a\": }", "{\"a\": 1} x", "{\"a\": \"\xff\"}"}) {
    EXPECT_EQ(jsonStringToDictionary(text), std::nullopt) << text;
  }
}

// An object whose member "a" holds `levels - 1` arrays inside each other.
std::string nested(std::size_t levels) {
  return "{\"a\":" + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
}

TEST(JsonHelpers, RefusesTextsNestedTooDeep) {
  const auto deepest = jsonStringToDictionary(nested(kMaxJsonDepth));
  ASSERT_TRUE(deepest.has_value());
  EXPECT_TRUE(toJSONString(*deepest).has_value());
  EXPECT_EQ(jsonStringToDictionary(nested(kMaxJsonDepth + 1)), std::nullopt);
  // A server's 200 KB of brackets overflowed the stack of the first writer.
  const auto hostile = jsonStringToDictionary(nested(100000));
  EXPECT_EQ(hostile, std::nullopt);
  if (hostile) {
    EXPECT_TRUE(toJSONString(*hostile).has_value());
  }
  // Brackets inside strings are text, also after an escaped quote.
  const std::string brackets(2 * kMaxJsonDepth, '[');
  EXPECT_TRUE(jsonStringToDictionary("{\"a\":\"" + brackets + "\"}").has_value());
  EXPECT_TRUE(jsonStringToDictionary("{\"a\":\"\\\"" + brackets + "\"}").has_value());
}

struct Login {
  virtual ~Login() = default;
};
struct DerivedLogin : Login {};

TEST(JsonHelpers, ClassNameDropsTheNamespaces) {
  EXPECT_EQ(className(Login{}), "Login");
  const DerivedLogin derived;
  const Login& base = derived;
  EXPECT_EQ(className(base), "DerivedLogin");
  EXPECT_EQ(className(std::vector<int>{}), "vector<int, std::allocator<int> >");
  EXPECT_EQ(className(3), "int");
}

}  // namespace
}  // namespace vistrelle::base
