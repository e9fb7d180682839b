#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <thread>

#include "tracking/fake_head_imu_clock.h"
#include "tracking/head_imu.h"
#include "tracking/head_imu_messages.h"
#include "tracking/tracking_log.h"

namespace vistrelle::tracking {
namespace {

class HeadImuConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    tracking_log_set_sink([](std::string_view) {});
  }
  void TearDown() override { tracking_log_set_sink(nullptr); }

  FakeHeadImuClock clock_;
  head_imu_module module_{clock_};
};

TEST_F(HeadImuConcurrency, StopWhilePushingAndReadingIsClean) {
  std::atomic<bool> done{false};
  std::atomic<int> bad_orientations{0};
  std::atomic<uint64_t> pushed{0};

  // One producer, as the parser expects.
  std::thread pusher([&] {
    const int16_t accel[3] = {0, 0, 16393};
    const int16_t gyro[3] = {3, -800, 819};
    uint32_t ticks = 1000;
    const float temperature_c[2] = {20.0f, 40.0f};
    int i = 0;
    while (!done.load()) {
      clock_.advance(1000000);
      ticks += 768;
      const auto raw = messages::raw(accel, gyro, 1280, ticks, ticks - 50);
      head_imu_push_message(module_, raw.data(), raw.size());
      if (i % 64 == 0) {
        const auto entry = messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY,
                                          temperature_c[i % 128 / 64], 0.01f, 0.0f, 0.0f);
        head_imu_push_message(module_, entry.data(), entry.size());
        const auto q = messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION, 0.0f, 0.0f, 0.0f, 1.0f,
                                            static_cast<uint64_t>(i) * 1000);
        head_imu_push_message(module_, q.data(), q.size());
      }
      i++;
      pushed++;
    }
  });

  std::thread reader([&] {
    while (!done.load()) {
      float o[4] = {0.0f, 0.0f, 0.0f, 1.0f};
      head_imu_get_orientation(module_, o);
      const float norm = std::sqrt(o[0] * o[0] + o[1] * o[1] + o[2] * o[2] + o[3] * o[3]);
      if (!(std::fabs(norm - 1.0f) < 1e-4f)) {
        bad_orientations++;
      }
      float q[4], g[3], a[3], b[3], c[3];
      uint64_t t;
      head_imu_get_calibration(module_, q, &t, g, a, b, c);
      head_imu_needs_calibration(module_);
      head_imu_has_raw_data(module_);
      uint64_t vsync;
      head_imu_get_vsync_timestamp(module_, &vsync);
    }
  });

  std::thread waiter([&] {
    while (!done.load()) {
      int raw[6];
      head_imu_wait_raw_data(module_, raw, 50);
    }
  });

  for (int cycle = 0; cycle < 200; cycle++) {
    ASSERT_TRUE(startHeadIMU(module_));
    const uint64_t target = pushed.load() + 20;
    while (pushed.load() < target) {
      std::this_thread::yield();
    }
    ASSERT_TRUE(stopHeadIMU(module_));
  }
  done = true;
  pusher.join();
  reader.join();
  waiter.join();
  EXPECT_EQ(bad_orientations.load(), 0);
}

TEST_F(HeadImuConcurrency, StopWakesAWaiterAtOnce) {
  ASSERT_TRUE(startHeadIMU(module_));
  std::atomic<bool> waiting{false};
  bool got = true;
  std::thread waiter([&] {
    int raw[6];
    waiting = true;
    got = head_imu_wait_raw_data(module_, raw, 30000);
  });
  while (!waiting.load()) {
    std::this_thread::yield();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(stopHeadIMU(module_));
  const auto took = std::chrono::steady_clock::now() - start;
  waiter.join();
  EXPECT_FALSE(got);
  EXPECT_LT(took, std::chrono::seconds(10));
}

}  // namespace
}  // namespace vistrelle::tracking
