#include "base/helpers/numeric_compare.h"

#include <gtest/gtest.h>

namespace vistrelle::base {
namespace {

struct CompareCase {
  const char* left;
  const char* right;
  std::strong_ordering expected;
};

TEST(NumericCompare, OrdersDigitRunsAsNumbers) {
  const CompareCase cases[] = {
      {"V1.9", "V1.63", std::strong_ordering::less},
      {"ORVEX2_FW_V1.9", "ORVEX2_FW_V1.63", std::strong_ordering::less},
      {"ORVEX_FW_V1.30", "ORVEX_FW_V1.30", std::strong_ordering::equal},
      {"ORVEX_FW_V1.31", "ORVEX_FW_V1.30", std::strong_ordering::greater},
      {"1.0.10", "1.0.9", std::strong_ordering::greater},
      {"1.2.9", "1.2.10", std::strong_ordering::less},
      {"", "", std::strong_ordering::equal},
      {"", "1.0", std::strong_ordering::less},
      {"V1.6", "V1.6.1", std::strong_ordering::less},
      {"V1.6.1", "V1.6", std::strong_ordering::greater},
      {"V1", "V1a", std::strong_ordering::less},
      {"V1.01", "V1.1", std::strong_ordering::equal},
      {"V-1.0", "V1.0", std::strong_ordering::less},
      {"V-1.0", "V-2.0", std::strong_ordering::less},
      {"V1.0", "v1.0", std::strong_ordering::less},
      {"a2", "a10", std::strong_ordering::less},
      {"a10b", "a10a", std::strong_ordering::greater},
      {"99999999999999999999999", "100000000000000000000000", std::strong_ordering::less},
      {"1.0.0.0", "1.0.0.0", std::strong_ordering::equal},
      {"1.x", "1.9", std::strong_ordering::greater},
  };
  for (const auto& [left, right, expected] : cases) {
    EXPECT_EQ(numericCompare(left, right), expected) << left << " vs " << right;
    EXPECT_EQ(numericCompare(right, left), 0 <=> expected) << right << " vs " << left;
  }
}

}  // namespace
}  // namespace vistrelle::base
