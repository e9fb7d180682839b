#include "base/helpers/date_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace vistrelle::base {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::system_clock;

// Sets TZ for one test and restores it after.
class DateTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    useZone("UTC0");
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void useZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }
  static system_clock::time_point at(std::int64_t unixMilliseconds) {
    return system_clock::time_point(milliseconds(unixMilliseconds));
  }

 private:
  std::optional<std::string> saved_;
};

// 2024-12-30 08:05:09.042 UTC: a Monday whose week-based year is 2025.
constexpr std::int64_t kNewYearWeek = 1735545909042;

TEST_F(DateTextTest, FormatsTheCalendarYear) {
  EXPECT_EQ(dateText(at(kNewYearWeek), DateTextFormat::DateTimeMilliseconds),
            "2024-12-30 08:05:09:042");
  EXPECT_EQ(dateText(at(kNewYearWeek), DateTextFormat::DateTime), "2024-12-30 08:05:09");
  EXPECT_EQ(dateText(at(kNewYearWeek), DateTextFormat::Date), "20241230");
  // 2021-01-01 belongs to week 53 of 2020.
  EXPECT_EQ(dateText(at(1609459200000), DateTextFormat::Date), "20210101");
  EXPECT_EQ(dateText(1735545909.99), "2024-12-30 08:05:09");
}

TEST_F(DateTextTest, UsesTheLocalTimeZone) {
  useZone("CST-8");
  EXPECT_EQ(dateText(at(kNewYearWeek), DateTextFormat::DateTime), "2024-12-30 16:05:09");
  EXPECT_EQ(secondsSince1970Fixed("2024-12-30 16:05:09"), 1735545909.0);
}

TEST_F(DateTextTest, TimesBefore1970) {
  EXPECT_EQ(dateText(at(-1), DateTextFormat::DateTimeMilliseconds), "1969-12-31 23:59:59:999");
  EXPECT_EQ(dateText(-0.5), "1969-12-31 23:59:59");
  EXPECT_THROW(dateText(std::numeric_limits<double>::quiet_NaN()), std::invalid_argument);
}

TEST_F(DateTextTest, TimestampsRoundMillisecondsAndTruncateSeconds) {
  const auto time = system_clock::time_point(std::chrono::microseconds(1735545909999600));
  EXPECT_EQ(timestampText(time, true), "1735545910000");
  EXPECT_EQ(timestampText(time, false), "1735545909");
  const auto nowSeconds = std::stoll(timestampText(false));
  const auto expected =
      std::chrono::duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(static_cast<double>(nowSeconds), static_cast<double>(expected), 2.0);
  EXPECT_EQ(nowText(DateTextFormat::DateTime).size(), 19u);
}

TEST_F(DateTextTest, ParsesBothLayoutsByLength) {
  EXPECT_EQ(secondsSince1970("2024-12-30 08:05:09"), 1735545909.0);
  EXPECT_DOUBLE_EQ(secondsSince1970("2024-12-30 08:05:09:042").value(), 1735545909.042);
  EXPECT_EQ(secondsSince1970Fixed("2024-12-30 08:05:09"), 1735545909.0);
  EXPECT_EQ(secondsSince1970Fixed("2024-12-30 08:05:09:042"), std::nullopt);
  EXPECT_EQ(secondsSince1970("2024-02-29 00:00:00"), 1709164800.0);
}

TEST_F(DateTextTest, RejectsTextsThatAreNotDates) {
  for (const char* text :
       {"", "2024-12-30", "2024-12-30 08:05:9", "2024/12/30 08:05:09", "2024-13-01 00:00:00",
        "2023-02-29 00:00:00", "2024-12-30 24:00:00", "2024-12-30 08:60:09", "2024-12-30T08:05:09",
        "2024-12-30 08:05:09.042", "2024-12-30 08:05:09:04x", "+024-12-30 08:05:09"}) {
    EXPECT_EQ(secondsSince1970(text), std::nullopt) << text;
  }
}

TEST_F(DateTextTest, LocalTimesInADaylightSavingGapDoNotExist) {
  useZone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(secondsSince1970Fixed("2024-03-31 02:30:00"), std::nullopt);
  EXPECT_EQ(secondsSince1970Fixed("2024-03-31 03:30:00"), 1711848600.0);
}

}  // namespace
}  // namespace vistrelle::base
