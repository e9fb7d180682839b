#include "netlocal/companion/companion_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace vistrelle::netlocal {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(CompanionLine, MessagesAreOneCompactObjectEndedByCrLf) {
  struct Case {
    const char* name;
    Value::Map message;
    const char* line;
  };
  const Case cases[] = {
      {"event", {{"type", 1}}, "{\"type\":1}\r\n"},
      {"no glasses", {{"type", -1}}, "{\"type\":-1}\r\n"},
      {"without a type, unchanged", {{"b", "x"}, {"a", true}}, "{\"a\":true,\"b\":\"x\"}\r\n"},
      {"line breaks inside texts are escaped",
       {{"type", 3}, {"text", "a\r\nb"}},
       "{\"text\":\"a\\r\\nb\",\"type\":3}\r\n"},
      {"non-finite numbers are 0",
       {{"type", 9997}, {"value", Value::List{Value(kNaN), Value(kInf), Value(-kInf), Value(1.5)}}},
       "{\"type\":9997,\"value\":[0,0,0,1.5]}\r\n"},
      {"a non-finite float inside a bias record",
       {{"type", 9997},
        {"value", Value::List{Value::List{1, 0, 16, Value(std::numeric_limits<float>::infinity()),
                                          Value(0.5f), 2, 3, 1}}}},
       "{\"type\":9997,\"value\":[[1,0,16,0,0.5,2,3,1]]}\r\n"},
      {"nested maps and null", {{"m", Value::Map{{"k", nullptr}}}}, "{\"m\":{\"k\":null}}\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompanionLine::encode(c.message).value_or("(none)"), c.line) << c.name;
  }
}

TEST(CompanionLine, FloatsRoundTripThroughTheText) {
  const float temperature = 31.7f;
  const auto line = CompanionLine::jsonText({{"value", Value(temperature)}});
  ASSERT_TRUE(line);
  EXPECT_EQ(static_cast<float>(nlohmann::json::parse(*line)["value"].get<double>()), temperature);
}

TEST(CompanionLine, TextsThatAreNotUtf8AndRunawayNestingAreRefused) {
  EXPECT_FALSE(CompanionLine::encode({{"type", 1}, {"text", "\xff\xfe"}}));

  Value deep = Value::Map{{"type", 1}};
  for (size_t i = 0; i < CompanionLine::kMaxDepth; ++i) deep = Value::List{deep};
  EXPECT_FALSE(CompanionLine::encode({{"deep", deep}}));
  Value shallow = Value::Map{{"type", 1}};
  for (size_t i = 0; i + 2 < CompanionLine::kMaxDepth; ++i) shallow = Value::List{shallow};
  EXPECT_TRUE(CompanionLine::encode({{"deep", shallow}}));
}

TEST(CompanionLine, TypeReadsAsAnInteger) {
  struct Case {
    Value::Map message;
    int64_t type;
  };
  const Case cases[] = {
      {{{"type", 7}}, 7},
      {{{"type", "7"}}, 7},
      {{{"type", " -8xyz"}}, -8},
      {{{"type", "+5"}}, 5},
      {{{"type", "seven"}}, 0},
      {{{"type", 7.9}}, 7},
      {{{"type", -7.9}}, -7},
      {{{"type", true}}, 1},
      {{{"type", Value::List{7}}}, 0},
      {{{"type", nullptr}}, 0},
      {{{"value", 7}}, 0},
      {{{"type", kNaN}}, 0},
      {{{"type", kInf}}, std::numeric_limits<int64_t>::max()},
      {{{"type", "99999999999999999999"}}, std::numeric_limits<int64_t>::max()},
      {{{"type", "-99999999999999999999"}}, std::numeric_limits<int64_t>::min()},
      {{{"type", "-9223372036854775808"}}, std::numeric_limits<int64_t>::min()},
      {{{"type", "9223372036854775807"}}, std::numeric_limits<int64_t>::max()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompanionLine::typeOf(c.message), c.type)
        << CompanionLine::jsonText(c.message).value_or("?");
  }
}

}  // namespace
}  // namespace vistrelle::netlocal
