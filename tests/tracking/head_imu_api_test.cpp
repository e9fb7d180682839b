#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tracking/head_imu_api.h"
#include "tracking/head_imu_messages.h"
#include "tracking/os_time.h"
#include "tracking/tracking_log.h"

namespace vistrelle::tracking {
namespace {

// The C entry points, reached by their global names.
TEST(HeadImuApi, CEntryPointsDriveTheSharedModule) {
  std::vector<std::string> log;
  tracking_log_set_sink([&log](std::string_view line) { log.emplace_back(line); });

  float orientation[4] = {5.0f, 5.0f, 5.0f, 5.0f};
  ::head_imu_get_orientation(orientation);
  EXPECT_EQ(orientation[0], 5.0f);  // stopped: untouched
  EXPECT_FALSE(::head_imu_has_raw_data());

  ASSERT_TRUE(::startHeadIMU());
  const int16_t accel[3] = {0, 0, 16393};
  const int16_t gyro[3] = {0, 0, 819};
  for (uint32_t i = 0; i < 3; i++) {
    const auto record = messages::raw(accel, gyro, 0, 1000 + 768 * i, 900 + 768 * i);
    ::head_imu_push_message(record.data(), record.size());
  }
  EXPECT_TRUE(::head_imu_has_raw_data());
  int raw[6] = {};
  EXPECT_TRUE(::head_imu_wait_raw_data(raw, 0));
  EXPECT_EQ(raw[2], 819);
  EXPECT_EQ(raw[5], 16393);
  ::head_imu_get_orientation(orientation);
  EXPECT_NEAR(std::hypot(std::hypot(orientation[0], orientation[1]),
                         std::hypot(orientation[2], orientation[3])),
              1.0f, 1e-6f);
  uint64_t vsync = 0;
  EXPECT_TRUE(::head_imu_get_vsync_timestamp(&vsync));
  EXPECT_GT(vsync, 0u);

  const uint8_t pair[32] = {1, 2, 3};
  uint8_t back[32] = {};
  ::head_imu_set_reference_pair(pair);
  ::head_imu_get_reference_pair(back);
  EXPECT_EQ(back[2], 3);
  ::head_imu_set_scale_param(0.5f);

  EXPECT_TRUE(::stopHeadIMU());
  EXPECT_FALSE(::stopHeadIMU());
  tracking_log_set_sink(nullptr);
  EXPECT_EQ(log.front(), "startHeadIMU");
}

TEST(OsClock, ReadsTheNamedClocks) {
  const auto steady = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  const auto system = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  const double second = 1e9;
  EXPECT_NEAR(static_cast<double>(os_clock_get_ns(CLOCK_MONOTONIC)), static_cast<double>(steady),
              second);
  EXPECT_NEAR(static_cast<double>(os_clock_get_ns(CLOCK_REALTIME)), static_cast<double>(system),
              second);
}

}  // namespace
}  // namespace vistrelle::tracking
