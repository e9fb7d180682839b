#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tracking/fake_head_imu_clock.h"
#include "tracking/head_imu.h"
#include "tracking/head_imu_messages.h"
#include "tracking/tracking_log.h"

namespace vistrelle::tracking {
namespace {

using messages::Record;

constexpr float kPi = 3.14159265358979f;
constexpr uint64_t kMsNs = 1000000;
constexpr uint32_t kTicksPerMs = 768;  // 1.302 µs ticks
// Body rad/s of one gyro count on chip 112, as the parser computes it.
const float kGyroLsb = imu_gyro_raw_scale(1, 112) * static_cast<float>(0.001 * M_PI / 180.0);
// Level head: gravity along body +Y.
constexpr int16_t kLevel[3] = {0, 0, 16393};
constexpr int16_t kStill[3] = {0, 0, 0};

int16_t temperature_raw(float celsius) {
  return static_cast<int16_t>((celsius - 25.0f) * 256.0f);
}

quat axis_angle(vec3 axis, float angle) {
  quat q;
  math_vec3_normalize(&axis);
  math_quat_from_axis_angle(&axis, angle, &q);
  return q;
}

float rotation_distance(const quat& a, const quat& b) {
  const Eigen::Quaterniond d =
      map_quat_const(a).cast<double>().conjugate() * map_quat_const(b).cast<double>();
  return static_cast<float>(2.0 * std::atan2(d.vec().norm(), std::fabs(d.w())));
}

// Raw gyro counts for a body rate given in counts per axis.
void body_to_raw_gyro(int x, int y, int z, int16_t out[3]) {
  out[0] = static_cast<int16_t>(-z);
  out[1] = static_cast<int16_t>(-x);
  out[2] = static_cast<int16_t>(y);
}

class HeadImu : public ::testing::Test {
 protected:
  void SetUp() override {
    tracking_log_set_sink([this](std::string_view line) { log_.emplace_back(line); });
    module_ = std::make_unique<head_imu_module>(clock_);
    ASSERT_TRUE(startHeadIMU(*module_));
    log_.clear();
  }

  void TearDown() override {
    stopHeadIMU(*module_);
    module_.reset();
    tracking_log_set_sink(nullptr);
  }

  void push(const Record& r) { head_imu_push_message(*module_, r.data(), r.size()); }

  // One raw report, 1 ms of both clocks after the previous one.
  void raw_step(const int16_t gyro[3], int16_t temperature = 0, const int16_t* accel = kLevel) {
    clock_.advance(kMsNs);
    ticks_ += kTicksPerMs;
    push(messages::raw(accel, gyro, temperature, ticks_, ticks_ - 100));
  }

  void raw_stream(int count, const int16_t gyro[3], int16_t temperature = 0) {
    for (int i = 0; i < count; i++) {
      raw_step(gyro, temperature);
    }
  }

  quat orientation() {
    float o[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    head_imu_get_orientation(*module_, o);
    return quat{o[0], o[1], o[2], o[3]};
  }

  m_imu_3dof& fusion() { return module_->device->fusion; }

  bool logged(const std::string& needle) const {
    for (const std::string& line : log_) {
      if (line.find(needle) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  FakeHeadImuClock clock_;
  std::unique_ptr<head_imu_module> module_;
  std::vector<std::string> log_;
  uint32_t ticks_ = 100000;
};

TEST(HeadImuUnits, ConversionsForBothChips) {
  struct Case {
    int chip;
    int16_t raw;
    float gyro_mdps;
    float celsius;
  };
  const Case cases[] = {
      {112, 100, 7000.0f, 25.0f + 100.0f / 256.0f},
      {112, -512, -35840.0f, 23.0f},
      {113, 100, 6100.0f, 23.0f + 100.0f / 512.0f},
      {0, -512, -31232.0f, 22.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip);
    EXPECT_FLOAT_EQ(imu_gyro_raw_scale(c.raw, c.chip), c.gyro_mdps);
    EXPECT_FLOAT_EQ(imu_temperature_from_raw(c.raw, c.chip), c.celsius);
  }
  EXPECT_FLOAT_EQ(imu_accel_raw_scale(1000), 61.0f);
}

TEST_F(HeadImu, RawReportAxesAndScalesFollowTheChipId) {
  struct Case {
    uint32_t chip;
    float mdps_per_count;
  };
  for (const Case& c : {Case{112, 70.0f}, Case{113, 61.0f}}) {
    SCOPED_TRACE(c.chip);
    push(messages::chip_id(c.chip));
    EXPECT_TRUE(logged("vandrel imu_id2:" + std::to_string(c.chip)));
    const int16_t gyro[3] = {100, 200, 300};
    const int16_t accel[3] = {1000, 2000, 3000};
    raw_step(gyro, 0, accel);  // a first sample only starts the filter's clock
    raw_step(gyro, 0, accel);
    float q[4], g[3], a[3], b[3], cc[3];
    uint64_t t = 0;
    head_imu_get_calibration(*module_, q, &t, g, a, b, cc);
    const float to_rad = c.mdps_per_count * 0.001f * kPi / 180.0f;
    EXPECT_NEAR(g[0], -200 * to_rad, 1e-5f);
    EXPECT_NEAR(g[1], 300 * to_rad, 1e-5f);
    EXPECT_NEAR(g[2], -100 * to_rad, 1e-5f);
    EXPECT_EQ(t, clock_.monotonic.load());
    const vec3 last_accel = fusion().last.accel;
    EXPECT_NEAR(last_accel.x, -2000 * 0.061f * 0.0098f, 1e-5f);
    EXPECT_NEAR(last_accel.y, 3000 * 0.061f * 0.0098f, 1e-5f);
    EXPECT_NEAR(last_accel.z, -1000 * 0.061f * 0.0098f, 1e-5f);
  }
}

TEST_F(HeadImu, StreamAt1kHzTurnsAboutTheMatchingAxis) {
  struct Case {
    int raw_axis;
    vec3 body_axis;
  };
  const Case cases[] = {
      {0, vec3{0.0f, 0.0f, -1.0f}}, {1, vec3{-1.0f, 0.0f, 0.0f}}, {2, vec3{0.0f, 1.0f, 0.0f}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw_axis);
    stopHeadIMU(*module_);
    ASSERT_TRUE(startHeadIMU(*module_));
    int16_t gyro[3] = {0, 0, 0};
    gyro[c.raw_axis] = 819;
    raw_stream(1001, gyro);  // the first only starts the clock
    const quat expected = axis_angle(c.body_axis, 819 * kGyroLsb * 1.0f);
    EXPECT_LT(rotation_distance(orientation(), expected), 1e-4f);
  }
}

TEST_F(HeadImu, FactoryEntryAtTheTemperatureCancelsAConstantOffset) {
  int16_t gyro[3];
  body_to_raw_gyro(0, 10, 0, gyro);  // 0.0122 rad/s about the uncorrectable axis
  const float offset = 10 * kGyroLsb;

  raw_stream(10001, gyro, temperature_raw(35.0f));
  const float drift_without_table = rotation_distance(orientation(), quat{0, 0, 0, 1});
  EXPECT_NEAR(drift_without_table, offset * 10.0f, 1e-3f);

  stopHeadIMU(*module_);
  ASSERT_TRUE(startHeadIMU(*module_));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 35.0f, 0.0f, offset, 0.0f));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 45.0f, 0.0f, 2.0f * offset, 0.0f));
  raw_stream(10001, gyro, temperature_raw(35.0f));
  EXPECT_LT(rotation_distance(orientation(), quat{0, 0, 0, 1}), 1e-6f);
}

TEST_F(HeadImu, OffsetLinearInTemperatureIsCancelledBetweenEntries) {
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 20.0f, 0.0f, 10 * kGyroLsb, 0.0f));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 40.0f, 0.0f, 30 * kGyroLsb, 0.0f));
  struct Case {
    float celsius;
    int counts;
  };
  for (const Case& c : {Case{30.0f, 20}, Case{25.0f, 15}, Case{35.0f, 25}}) {
    SCOPED_TRACE(c.celsius);
    stopHeadIMU(*module_);
    ASSERT_TRUE(startHeadIMU(*module_));
    int16_t gyro[3];
    body_to_raw_gyro(0, c.counts, 0, gyro);
    raw_stream(10001, gyro, temperature_raw(c.celsius));
    EXPECT_LT(rotation_distance(orientation(), quat{0, 0, 0, 1}), 1e-5f);
  }
}

TEST(TemperatureBiasInterpolate, BetweenBracketingEntriesHeldOutsideAndTheZeroSentinel) {
  const std::vector<TemperatureBias> two = {{20.0f, 0.01f, 0.0f, 0.0f}, {40.0f, 0.03f, 0.0f, 0.0f}};
  const std::vector<TemperatureBias> one = {{33.0f, 0.02f, -0.01f, 0.005f}};
  const std::vector<TemperatureBias> with_zero = {{10.0f, 0.01f, 0.0f, 0.0f},
                                                  {0.0f, 0.05f, 0.0f, 0.0f}};
  // Unordered: the walk must find the entries on either side.
  const std::vector<TemperatureBias> three = {
      {40.0f, 0.03f, 0.0f, 0.0f}, {10.0f, 0.0f, 0.0f, 0.0f}, {30.0f, 0.02f, 0.0f, 0.0f}};
  // Too close for a slope: the nearest holds.
  const std::vector<TemperatureBias> close = {{30.0f, 0.001f, 0.0f, 0.0f},
                                              {30.01f, 0.011f, 0.0f, 0.0f}};
  struct Case {
    const std::vector<TemperatureBias>* table;
    float celsius;
    float x;
  };
  const Case cases[] = {
      {&two, 30.0f, 0.02f},      {&two, 50.0f, 0.03f},    {&two, 10.0f, 0.01f},
      {&two, 20.0f, 0.01f},      {&one, -5.0f, 0.02f},    {&one, 55.0f, 0.02f},
      {&with_zero, 8.0f, 0.01f}, {&three, 38.0f, 0.028f}, {&three, 31.0f, 0.021f},
      {&three, 15.0f, 0.005f},   {&three, 59.0f, 0.03f},  {&close, 45.0f, 0.011f},
      {&close, 30.004f, 0.001f}, {&close, 10.0f, 0.001f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.table->size() << " entries at " << c.celsius);
    EXPECT_NEAR(temperature_bias_interpolate(*c.table, c.celsius).x, c.x, 1e-6f);
  }
  const vec3 b = temperature_bias_interpolate(one, 0.0f);
  EXPECT_FLOAT_EQ(b.y, -0.01f);
  EXPECT_FLOAT_EQ(b.z, 0.005f);
  EXPECT_EQ(temperature_bias_interpolate({}, 30.0f).x, 0.0f);
}

// Hostile or broken input before a plain 1 rad/s stream: the orientation stays
// finite and turns at the gyro's rate afterwards.
TEST_F(HeadImu, HostileInputKeepsTheFusionFiniteAndTurning) {
  const quat identity{0.0f, 0.0f, 0.0f, 1.0f};
  struct Case {
    const char* name;
    std::function<void()> prelude;
  };
  const Case cases[] = {
      {"huge calibration gyro bias, then second-sensor samples",
       [this] {
         push(messages::calibration({0, 0, 0, 1, 1, 1, -1.06e37f, 0.0f, 0.0f}));
         push(messages::secondary_accel(0, 512, 0));
         for (uint32_t i = 0; i < 20; i++) {
           clock_.advance(kMsNs);
           push(messages::secondary_gyro(10, 20, 30, i));
         }
       }},
      {"factory entries 0.01 degrees apart, read 15 degrees away",
       [this] {
         push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 30.0f, 0.001f, 0.0f, 0.0f));
         push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 30.01f, 0.011f, 0.0f, 0.0f));
       }},
      {"one quaternion from far ahead among normal ones",
       [this, identity] {
         uint64_t time_us = 5000000;
         for (uint64_t ahead : {0ull, 0ull, 1000000000000000ull, 0ull, 0ull, 0ull}) {
           clock_.advance(kMsNs);
           time_us += 1000;
           push(messages::orientation(identity, time_us + ahead));
         }
       }},
      {"scaled quaternion time at the top of the range",
       [this, identity] {
         push(messages::orientation(identity, 5000000));
         clock_.advance(kMsNs);
         push(messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION_SCALED, 0, 0, 0, 1, UINT64_MAX));
         clock_.advance(kMsNs);
         push(messages::orientation(identity, 5001000));
       }},
      {"float samples whose gyro overflows the step",
       [this] {
         const float accel[3] = {0.0f, 1.0f, 0.0f};
         const float gyro[3] = {0.0f, 3e38f, 3e38f};
         for (int i = 0; i < 5; i++) {
           clock_.advance(kMsNs);
           push(messages::float_sample(accel, gyro, 30.0f));
         }
       }},
  };
  int16_t gyro[3];
  body_to_raw_gyro(0, 819, 0, gyro);
  const float rate = 819 * kGyroLsb;  // 1.0 rad/s about body +Y
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stopHeadIMU(*module_);
    module_ = std::make_unique<head_imu_module>(clock_);
    ASSERT_TRUE(startHeadIMU(*module_));
    c.prelude();
    quat before = orientation();
    if (!map_quat(before).coeffs().allFinite()) {
      ADD_FAILURE() << "not finite after the prelude";
      continue;
    }
    raw_stream(1001, gyro, temperature_raw(45.0f));
    quat after = orientation();
    EXPECT_TRUE(map_quat(after).coeffs().allFinite());
    EXPECT_NEAR(rotation_distance(before, after), rate * 1.0f, 0.02f);
    EXPECT_LE(fusion().last.timestamp_ns, clock_.monotonic.load());
  }
}

TEST_F(HeadImu, UserTableBranches) {
  struct Case {
    std::vector<TemperatureBias> user;
    float celsius;
    float bias_x;
  };
  // Factory bias: 0.01 + 0.001 × (T − 20).
  const Case cases[] = {
      {{}, 30.0f, 0.02f},
      {{{25.0f, 0.05f, 0, 0}}, 30.0f, 0.02f + 0.05f - 0.015f},
      {{{0.0f, 0.05f, 0, 0}}, 30.0f, 0.02f},  // reference at 0 °C adds nothing
      {{{25.0f, 0.05f, 0, 0}, {35.0f, 0.08f, 0, 0}}, 30.0f, 0.065f},
      {{{35.0f, 0.08f, 0, 0}, {25.0f, 0.05f, 0, 0}}, 30.0f, 0.065f},
      {{{25.0f, 0.05f, 0, 0}, {35.0f, 0.08f, 0, 0}}, 40.0f, 0.03f + 0.08f - 0.025f},
      {{{25.0f, 0.05f, 0, 0}, {35.0f, 0.08f, 0, 0}, {45.0f, 0.1f, 0, 0}}, 40.0f, 0.09f},
      {{{25.0f, 0.05f, 0, 0}, {35.0f, 0.08f, 0, 0}, {45.0f, 0.1f, 0, 0}}, 30.0f, 0.065f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.user.size() << " user entries at " << c.celsius);
    push(messages::make(HEAD_IMU_MESSAGE_BIAS_RESET, 8));
    push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 20.0f, 0.01f, 0.0f, 0.0f));
    push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 40.0f, 0.03f, 0.0f, 0.0f));
    for (const TemperatureBias& e : c.user) {
      push(messages::bias(HEAD_IMU_MESSAGE_BIAS_USER, e.temperature, e.x, e.y, e.z));
    }
    raw_step(kStill, temperature_raw(c.celsius));
    EXPECT_NEAR(fusion().gyro_bias.x, c.bias_x, 1e-6f);
  }

  // The user table alone is never used, and the switch turns it all off.
  push(messages::make(HEAD_IMU_MESSAGE_BIAS_RESET, 8));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_USER, 30.0f, 0.05f, 0.0f, 0.0f));
  raw_step(kStill, temperature_raw(30.0f));
  EXPECT_EQ(fusion().gyro_bias.x, 0.0f);
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 30.0f, 0.01f, 0.0f, 0.0f));
  module_->temperature_bias_enabled = false;
  raw_step(kStill, temperature_raw(30.0f));
  EXPECT_EQ(fusion().gyro_bias.x, 0.0f);
}

TEST_F(HeadImu, TableEntryAcceptance) {
  const float nan = std::nanf("");
  struct Case {
    float t, x, y, z;
    bool accepted;
  };
  const Case cases[] = {
      {60.0f, 0.1f, 0.0f, 0.0f, false},  {59.9f, 0.1f, 0.0f, 0.0f, true},
      {-20.0f, 0.1f, 0.0f, 0.0f, false}, {-19.9f, 0.1f, 0.0f, 0.0f, true},
      {30.0f, 0.0f, 0.0f, 0.0f, false},  {31.0f, 0.5f, -0.25f, 0.25f, false},
      {32.0f, 0.5f, -0.25f, 0.2f, true}, {nan, 0.1f, 0.0f, 0.0f, false},
      {33.0f, nan, 0.0f, 0.0f, false},   {34.0f, INFINITY, 0.0f, 0.0f, false},
  };
  for (uint32_t type : {HEAD_IMU_MESSAGE_BIAS_FACTORY, HEAD_IMU_MESSAGE_BIAS_USER}) {
    std::vector<TemperatureBias>& table =
        type == HEAD_IMU_MESSAGE_BIAS_FACTORY ? module_->factory_table : module_->user_table;
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << type << ": " << c.t << " " << c.x);
      push(messages::make(HEAD_IMU_MESSAGE_BIAS_RESET, 8));
      EXPECT_FALSE(fusion().gyro_bias_valid);
      push(messages::bias(type, c.t, c.x, c.y, c.z));
      EXPECT_EQ(table.size(), c.accepted ? 1u : 0u);
      EXPECT_EQ(fusion().gyro_bias_valid, c.accepted);
    }
  }
  EXPECT_TRUE(logged("vandrel TYPE_SENSOR_IMU_TEMPERATURE_BIAS_RESET_FACTORY"));
}

TEST_F(HeadImu, TableEntriesLogDuplicatesAndStopAtTheCapacity) {
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 30.0f, 0.01f, 0.0f, 0.0f));
  EXPECT_EQ(log_.back(),
            "vandrel glasses bias FACTORY temperature:30.000000, x:0.010000, y:0.000000, "
            "z:0.000000, count:1");
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 30.0f, 0.02f, 0.0f, 0.0f));
  EXPECT_EQ(module_->factory_table.size(), 1u);
  EXPECT_EQ(module_->factory_table[0].x, 0.01f);
  EXPECT_TRUE(logged("vandrel glasses bias FACTORY duplicate!!!"));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_USER, 30.0f, 0.02f, 0.0f, 0.0f));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_USER, 30.0f, 0.02f, 0.0f, 0.0f));
  EXPECT_TRUE(logged("vandrel glasses bias USER_MANUAL duplicate!!!"));
  EXPECT_TRUE(
      logged("vandrel glasses bias USER_MANUAL temperature:30.000000, x:0.020000, "
             "y:0.000000, z:0.000000, count:1"));

  for (int i = 0; i < 80; i++) {
    push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, -19.0f + 0.5f * i, 0.01f, 0.0f, 0.0f));
  }
  EXPECT_EQ(module_->factory_table.size(), kHeadImuBiasTableCapacity);
  EXPECT_TRUE(logged("vandrel glasses bias FACTORY table full (64 entries), entry dropped"));
}

TEST_F(HeadImu, TablesSurviveStopAndStartUntilReset) {
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 30.0f, 0.01f, 0.0f, 0.0f));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_USER, 30.0f, 0.01f, 0.0f, 0.0f));
  ASSERT_TRUE(stopHeadIMU(*module_));
  ASSERT_TRUE(startHeadIMU(*module_));
  EXPECT_EQ(module_->factory_table.size(), 1u);
  EXPECT_EQ(module_->user_table.size(), 1u);
  push(messages::make(HEAD_IMU_MESSAGE_BIAS_RESET, 8));
  EXPECT_TRUE(module_->factory_table.empty());
  EXPECT_TRUE(module_->user_table.empty());
}

TEST_F(HeadImu, LongDeviceGapReseedsThenFusesTheNextReport) {
  int16_t gyro[3];
  body_to_raw_gyro(0, 819, 0, gyro);
  raw_stream(100, gyro);
  const quat before = orientation();
  clock_.advance(11000 * kMsNs);
  ticks_ += 11000 * kTicksPerMs;
  raw_step(gyro);
  EXPECT_LT(rotation_distance(orientation(), before), 1e-7f);
  EXPECT_TRUE(fusion().first_correction_pending);
  EXPECT_EQ(fusion().first_correction_counter, 2u);
  EXPECT_FALSE(head_imu_needs_calibration(*module_));
  raw_step(gyro);
  EXPECT_NEAR(rotation_distance(orientation(), before), 819 * kGyroLsb * 0.001f, 1e-5f);
}

TEST_F(HeadImu, CounterWrapIsNoGap) {
  int16_t gyro[3];
  body_to_raw_gyro(0, 819, 0, gyro);
  ticks_ = 0xFFFFFFFFu - 5 * kTicksPerMs;
  raw_stream(21, gyro);  // wraps after six reports
  EXPECT_NEAR(rotation_distance(orientation(), quat{0, 0, 0, 1}), 20 * 819 * kGyroLsb * 0.001f,
              1e-5f);
  EXPECT_TRUE(fusion().first_correction_pending);
  EXPECT_EQ(fusion().first_correction_counter, 1u);
}

TEST_F(HeadImu, LongHostSilenceReseedsInsteadOfOneHugeStep) {
  int16_t gyro[3];
  body_to_raw_gyro(0, 819, 0, gyro);
  raw_stream(10, gyro);
  const quat before = orientation();
  clock_.advance(20000 * kMsNs);  // device time moves on by only 1 ms
  raw_step(gyro);
  EXPECT_LT(rotation_distance(orientation(), before), 1e-7f);
  raw_step(gyro);
  EXPECT_NEAR(rotation_distance(orientation(), before), 819 * kGyroLsb * 0.001f, 1e-5f);
}

TEST_F(HeadImu, RealTimeClockStepsDoNotReachTheFusion) {
  int16_t gyro[3];
  body_to_raw_gyro(0, 819, 0, gyro);
  raw_stream(11, gyro);
  clock_.realtime -= 3600ull * 1000 * kMsNs;
  raw_stream(10, gyro);
  clock_.realtime += 7200ull * 1000 * kMsNs;
  raw_stream(10, gyro);
  EXPECT_NEAR(rotation_distance(orientation(), quat{0, 0, 0, 1}), 30 * 819 * kGyroLsb * 0.001f,
              1e-5f);
}

TEST_F(HeadImu, FeedingAnOlderTimeStepsWithZeroDt) {
  int16_t gyro[3];
  body_to_raw_gyro(0, 819, 0, gyro);
  raw_stream(10, gyro);
  const uint64_t newest = fusion().last.timestamp_ns;
  const quat before = orientation();
  head_imu_feed_fusion(newest - 5 * kMsNs, module_->device.get(), 0.0f, 9.8f, 0.0f, 0.0f, 5.0f,
                       0.0f, 25.0f);
  EXPECT_EQ(fusion().last.timestamp_ns, newest);
  EXPECT_LT(rotation_distance(orientation(), before), 1e-7f);
  raw_stream(2, gyro);
  EXPECT_GT(fusion().last.timestamp_ns, newest);
}

TEST_F(HeadImu, GyroJumpIsDroppedAndRemembered) {
  int16_t gyro[3];
  body_to_raw_gyro(0, 819, 0, gyro);
  raw_stream(10, gyro);
  const quat before = orientation();
  int16_t jump[3];
  body_to_raw_gyro(0, 819 + 9000, 0, jump);  // +11 rad/s
  raw_step(jump);
  EXPECT_LT(rotation_distance(orientation(), before), 1e-7f);
  raw_step(jump);  // now the remembered rate: fused
  EXPECT_GT(rotation_distance(orientation(), before), 0.005f);
}

TEST_F(HeadImu, VsyncHostTimeIsDerivedAndUpdatedAtMostOncePerSecond) {
  uint64_t vsync = 1;
  ASSERT_TRUE(head_imu_get_vsync_timestamp(*module_, &vsync));
  EXPECT_EQ(vsync, 0u);
  const int16_t gyro[3] = {0, 0, 0};
  clock_.advance(kMsNs);
  push(messages::raw(kLevel, gyro, 0, 5000, 4000));  // 1000 ticks = 1302 µs ago
  ASSERT_TRUE(head_imu_get_vsync_timestamp(*module_, &vsync));
  EXPECT_EQ(vsync, clock_.monotonic.load() - 1302000);
  const uint64_t first = vsync;

  clock_.advance(500 * kMsNs);
  push(messages::raw(kLevel, gyro, 0, 5000 + 384000, 5000 + 383000));
  head_imu_get_vsync_timestamp(*module_, &vsync);
  EXPECT_EQ(vsync, first);

  clock_.advance(600 * kMsNs);
  push(messages::raw(kLevel, gyro, 0, 5000 + 845000, 5000 + 844900));
  head_imu_get_vsync_timestamp(*module_, &vsync);
  EXPECT_EQ(vsync, clock_.monotonic.load() - 130000);
}

TEST_F(HeadImu, QuaternionMessagesSetTheOrientationAndBodyRate) {
  const quat q0 = axis_angle(vec3{1.0f, 2.0f, 0.5f}, 0.8f);
  const vec3 body_axis{0.0f, 0.6f, 0.8f};
  uint64_t time_us = 5000000;
  for (int i = 0; i < 50; i++) {
    const quat step = axis_angle(body_axis, 2.0f * 0.001f * i);  // 2 rad/s
    quat q;
    math_quat_rotate(&q0, &step, &q);
    // Alternate the sign: the same rotations, from the other hemisphere.
    if (i % 2 == 1) {
      map_quat(q).coeffs() = -map_quat(q).coeffs();
    }
    push(messages::orientation(q, time_us));
    clock_.advance(kMsNs);
    time_us += 1000;
    if (i > 0) {
      EXPECT_LT(rotation_distance(orientation(), q), 1e-6f) << i;
      const vec3 rate = fusion().last.gyro;
      ASSERT_NEAR(rate.x, 0.0f, 2e-2f) << i;
      ASSERT_NEAR(rate.y, 1.2f, 2e-2f) << i;
      ASSERT_NEAR(rate.z, 1.6f, 2e-2f) << i;
    }
  }
  EXPECT_EQ(module_->quaternion_history.size(), 50u);
}

TEST_F(HeadImu, QuaternionAtOrBeforeTheNewestTimeChangesNothing) {
  const quat a = axis_angle(vec3{0.0f, 1.0f, 0.0f}, 0.1f);
  const quat b = axis_angle(vec3{0.0f, 1.0f, 0.0f}, 0.2f);
  const quat c = axis_angle(vec3{0.0f, 1.0f, 0.0f}, 0.3f);
  push(messages::orientation(a, 1000));
  clock_.advance(kMsNs);
  push(messages::orientation(b, 2000));
  ASSERT_EQ(module_->quaternion_history.size(), 2u);
  const uint64_t newest = module_->quaternion_history.back().timestamp;
  clock_.advance(kMsNs);
  push(messages::orientation(c, 2000));  // same time
  clock_.advance(kMsNs);
  push(messages::orientation(c, 1500));  // earlier
  EXPECT_EQ(module_->quaternion_history.size(), 2u);
  EXPECT_EQ(module_->quaternion_history.back().timestamp, newest);
  EXPECT_LT(rotation_distance(orientation(), b), 1e-6f);
  EXPECT_TRUE(math_vec3_validate(&fusion().last.gyro));
  EXPECT_NEAR(fusion().last.gyro.y, 100.0f, 0.5f);
}

TEST_F(HeadImu, QuaternionTimeScaleAndHistoryLimit) {
  const quat q = axis_angle(vec3{0.0f, 0.0f, 1.0f}, 0.1f);
  push(messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION_SCALED, q.x, -q.z, q.y, q.w, 1000));
  clock_.advance(22000);
  push(messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION_SCALED, q.x, -q.z, q.y, q.w, 1001));
  ASSERT_EQ(module_->quaternion_history.size(), 2u);
  // trunc(1001 × 22.1545) − trunc(1000 × 22.1545) = 22176 − 22154 µs.
  EXPECT_EQ(module_->quaternion_history[1].timestamp - module_->quaternion_history[0].timestamp,
            22000u);
  for (uint64_t i = 0; i < 1200; i++) {
    clock_.advance(kMsNs);
    push(messages::orientation(q, 30000 + i * 1000));
  }
  EXPECT_EQ(module_->quaternion_history.size(), 1000u);
}

TEST_F(HeadImu, NonFiniteOrNonUnitInputIsDropped) {
  const float nan = std::nanf("");
  push(messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION, nan, 0.0f, 0.0f, 1.0f, 1000));
  push(messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION, 0.0f, 0.0f, 0.0f, 1.5f, 2000));
  EXPECT_TRUE(module_->quaternion_history.empty());
  push(messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION, 0.0f, 0.0f, 0.0f, 1.005f, 3000));
  clock_.advance(kMsNs);
  push(messages::quaternion(HEAD_IMU_MESSAGE_QUATERNION, 0.0f, 0.0f, 0.0f, 1.005f, 4000));
  ASSERT_EQ(module_->quaternion_history.size(), 2u);
  EXPECT_EQ(module_->quaternion_history[1].w, 1.0f);

  const float accel[3] = {0.0f, 1.0f, 0.0f};
  const float bad_gyro[3] = {0.0f, INFINITY, 0.0f};
  push(messages::float_sample(accel, bad_gyro, 30.0f));
  push(messages::float_sample(accel, accel, nan));
  EXPECT_FALSE(fusion().has_first_sample);

  push(messages::calibration({0, 0, 0, 1, 1, 1, 0.01f, 0.02f, 0.03f}));
  EXPECT_FLOAT_EQ(fusion().gyro_bias.z, 0.03f);
  EXPECT_TRUE(fusion().gyro_bias_valid);
  EXPECT_TRUE(
      logged("vandrel Calib axb:0.000000, ayb:0.000000, azb:0.000000, axs:1.000000, "
             "ays:1.000000, azs:1.000000, gxb:0.010000, gyb:0.020000, gzb:0.030000"));
  push(messages::calibration({0, 0, 0, 1, 1, 1, nan, 0.5f, 0.5f}));
  EXPECT_FLOAT_EQ(fusion().gyro_bias.z, 0.03f);
  EXPECT_TRUE(map_quat(fusion().orientation).coeffs().allFinite());
}

TEST_F(HeadImu, FloatSamplesFuseWithFactoryBiasOnly) {
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_FACTORY, 30.0f, 0.01f, 0.0f, 0.0f));
  push(messages::bias(HEAD_IMU_MESSAGE_BIAS_USER, 30.0f, 0.5f, 0.0f, 0.0f));
  const float accel[3] = {0.0f, 1.0f, 0.0f};
  const float gyro[3] = {0.0f, static_cast<float>(180.0 / M_PI), 0.0f};  // 1 rad/s
  for (int i = 0; i < 1001; i++) {
    clock_.advance(kMsNs);
    push(messages::float_sample(accel, gyro, 30.0f));
  }
  EXPECT_FLOAT_EQ(fusion().gyro_bias.x, 0.01f);
  EXPECT_NEAR(fusion().last.accel.y, 9.8f, 1e-5f);
  // 1 rad about body +Y, less the 0.01 rad/s factory bias about x.
  const quat about_y = axis_angle(vec3{0.0f, 1.0f, 0.0f}, 1.0f);
  EXPECT_LT(rotation_distance(orientation(), about_y), 0.02f);

  // Beyond the 10 ms gap of this stream: re-seed with counter 1.
  const quat before = orientation();
  clock_.advance(11 * kMsNs);
  push(messages::float_sample(accel, gyro, 30.0f));
  EXPECT_LT(rotation_distance(orientation(), before), 1e-7f);
  EXPECT_TRUE(fusion().first_correction_pending);
  EXPECT_EQ(fusion().first_correction_counter, 1u);
}

TEST_F(HeadImu, SecondSensorSamplesRunOnTheHostClock) {
  push(messages::secondary_accel(512, 1024, 256));
  EXPECT_EQ(module_->secondary_accel[0], 0x00);
  EXPECT_EQ(module_->secondary_accel[1], 0x02);
  clock_.advance(kMsNs);
  push(messages::secondary_gyro(512, 1024, -1536, 7));
  clock_.advance(kMsNs);
  push(messages::secondary_gyro(512, 1024, -1536, 3));  // device time goes back: no matter
  const m_imu_3dof& f = fusion();
  EXPECT_EQ(f.last.timestamp_ns, clock_.monotonic.load());
  EXPECT_FLOAT_EQ(f.last.gyro.x, -2.0f);
  EXPECT_FLOAT_EQ(f.last.gyro.y, -3.0f);
  EXPECT_FLOAT_EQ(f.last.gyro.z, -1.0f);
  EXPECT_FLOAT_EQ(f.last.accel.x, -2.0f);
  EXPECT_FLOAT_EQ(f.last.accel.y, 0.5f);
  EXPECT_FLOAT_EQ(f.last.accel.z, -1.0f);
}

TEST_F(HeadImu, ShortRecordsAreDroppedByTheirTypesMinimum) {
  struct Case {
    uint32_t type;
    size_t min_length;
  };
  const Case cases[] = {{1, 32}, {2, 32}, {3, 32},  {4, 16},  {6, 20},  {7, 20},
                        {8, 44}, {9, 24}, {10, 24}, {12, 54}, {13, 12}, {11, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(head_imu_message_min_length(c.type), c.min_length);
    Record r = messages::make(c.type, c.min_length - 1 < 4 ? 4 : c.min_length - 1);
    if (c.min_length > 4) {
      log_.clear();
      head_imu_push_message(*module_, r.data(), c.min_length - 1);
      EXPECT_TRUE(logged("head imu message type " + std::to_string(c.type) + " dropped"));
    }
  }
  log_.clear();
  const uint8_t three[3] = {3, 0, 0};
  head_imu_push_message(*module_, three, sizeof(three));
  EXPECT_TRUE(logged("head imu message dropped: 3 bytes"));
  EXPECT_FALSE(head_imu_has_raw_data(*module_));
  log_.clear();
  Record unknown = messages::make(99, 64);
  push(unknown);
  push(messages::make(HEAD_IMU_MESSAGE_UNUSED, 8));
  EXPECT_TRUE(log_.empty());

  push(messages::client_vsync(123456789));
  EXPECT_TRUE(logged("(Client) vsync time=123456789"));
}

TEST_F(HeadImu, RawDataFlagAndWait) {
  int out[6] = {0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(head_imu_has_raw_data(*module_));
  EXPECT_FALSE(head_imu_wait_raw_data(*module_, out, 1));
  const int16_t gyro[3] = {11, 12, 13};
  const int16_t accel[3] = {21, 22, 16393};
  raw_step(gyro, 0, accel);
  EXPECT_TRUE(head_imu_has_raw_data(*module_));

  // Already set: no wait at all, even with a long time-out.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(head_imu_wait_raw_data(*module_, out, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  const int expected[6] = {11, 12, 13, 21, 22, 16393};
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(out[i], expected[i]) << i;
  }
  EXPECT_FALSE(head_imu_has_raw_data(*module_));
  EXPECT_FALSE(head_imu_wait_raw_data(*module_, out, 0));
}

TEST_F(HeadImu, NeedsCalibrationOnceTheFirstCorrectionIsDone) {
  EXPECT_FALSE(head_imu_needs_calibration(*module_));
  const int16_t tilted[3] = {0, 16393, 0};  // gravity along body -X: rolled 90°
  for (int i = 0; i < 5; i++) {
    raw_step(kStill, 0, tilted);
  }
  EXPECT_TRUE(head_imu_needs_calibration(*module_));
  EXPECT_TRUE(logged("vandrel first correction! 0"));
}

TEST_F(HeadImu, StartStopAndEntryPointsWithoutADevice) {
  EXPECT_FALSE(startHeadIMU(*module_));
  EXPECT_TRUE(logged("imu head already started!"));
  EXPECT_TRUE(stopHeadIMU(*module_));
  EXPECT_FALSE(stopHeadIMU(*module_));
  EXPECT_TRUE(logged("imu head already stopped!"));
  EXPECT_TRUE(logged("startHeadIMU"));
  EXPECT_TRUE(logged("stopHeadIMU"));

  float o[4] = {7, 7, 7, 7};
  head_imu_get_orientation(*module_, o);
  EXPECT_EQ(o[3], 7.0f);
  float q[4] = {7, 7, 7, 7}, g[3] = {7, 7, 7}, a[3] = {7, 7, 7}, b[3], c[3];
  uint64_t t = 7;
  head_imu_get_calibration(*module_, q, &t, g, a, b, c);
  EXPECT_EQ(t, 7u);
  EXPECT_EQ(a[0], 7.0f);
  EXPECT_FALSE(head_imu_needs_calibration(*module_));
  EXPECT_FALSE(head_imu_has_raw_data(*module_));
  int raw[6];
  EXPECT_FALSE(head_imu_wait_raw_data(*module_, raw, 1));
  uint64_t vsync = 0;
  EXPECT_FALSE(head_imu_get_vsync_timestamp(*module_, &vsync));
  const int16_t gyro[3] = {1, 2, 3};
  raw_step(gyro);  // ignored
  uint8_t pair[32];
  std::memset(pair, 0xAB, sizeof(pair));
  head_imu_set_reference_pair(*module_, pair);
  EXPECT_EQ(module_->reference_pair[0], 0);

  ASSERT_TRUE(startHeadIMU(*module_));
  head_imu_set_reference_pair(*module_, pair);
  uint8_t back[32] = {};
  head_imu_get_reference_pair(*module_, back);
  EXPECT_EQ(std::memcmp(back, pair, sizeof(pair)), 0);
  head_imu_get_calibration(*module_, q, &t, g, a, b, c);
  EXPECT_EQ(q[3], 1.0f);
  EXPECT_EQ(a[0], 0.0f);
  EXPECT_EQ(b[1], 0.0f);
  EXPECT_EQ(c[2], 0.0f);
}

TEST_F(HeadImu, StartFailsWhenTheFusionLockCannotBeSetUp) {
  ASSERT_TRUE(stopHeadIMU(*module_));
  module_->fusion_lock_init = [](os_mutex*) { return 12; };
  EXPECT_FALSE(startHeadIMU(*module_));
  EXPECT_TRUE(logged("Failed to init mutex!"));
  EXPECT_FALSE(module_->device);
  module_->fusion_lock_init = os_mutex_init;
  EXPECT_TRUE(startHeadIMU(*module_));
}

TEST(OsMutexDeathTest, MisuseStopsNamingTheHeaderAndExpression) {
  os_mutex om;
  EXPECT_DEATH(os_mutex_lock(&om), "os_threading: os_mutex_lock: Assertion `om->initialized'");
  ASSERT_EQ(os_mutex_init(&om), 0);
  EXPECT_DEATH(os_mutex_init(&om), "os_threading: os_mutex_init: Assertion `!om->initialized'");
  om.recursive = true;
  EXPECT_DEATH(os_mutex_destroy(&om), "os_mutex_destroy: Assertion `!om->recursive'");
  om.recursive = false;
  os_mutex_lock(&om);
  os_mutex_unlock(&om);
  os_mutex_destroy(&om);
  EXPECT_FALSE(om.initialized);
  EXPECT_DEATH(os_mutex_unlock(&om), "os_mutex_unlock: Assertion `om->initialized'");
}

}  // namespace
}  // namespace vistrelle::tracking
