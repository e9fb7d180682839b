#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tracking/m_imu_3dof.h"
#include "tracking/m_quatexpmap.h"
#include "tracking/tracking_log.h"

namespace vistrelle::tracking {
namespace {

constexpr uint64_t kMs = 1000000;
constexpr double kDt = 0.001;
constexpr float kPi = 3.14159265358979f;

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

// Heading: the twist about world +Y in q = swing ⊗ twist.  Turning Y onto Z
// lets the library's Z decomposition find it.
float heading(const quat& q) {
  const quat y_to_z = axis_angle(vec3{1.0f, 0.0f, 0.0f}, kPi / 2.0f);
  const quat z_to_y{-y_to_z.x, -y_to_z.y, -y_to_z.z, y_to_z.w};
  quat tmp;
  quat about_z;
  math_quat_rotate(&y_to_z, &q, &tmp);
  math_quat_rotate(&tmp, &z_to_y, &about_z);
  vec2 swing;
  float twist;
  math_quat_to_swing_twist(&about_z, &swing, &twist);
  return twist;
}

// Angle between measured gravity turned into the world and world +Y.
float tilt_error(const m_imu_3dof& f, const vec3& accel) {
  vec3 world;
  math_quat_rotate_vec3(&f.orientation, &accel, &world);
  return m_vec3_angle(world, vec3{0.0f, 1.0f, 0.0f});
}

class Imu3dof : public ::testing::Test {
 protected:
  void SetUp() override {
    tracking_log_set_sink([this](std::string_view line) { log_.emplace_back(line); });
  }
  void TearDown() override {
    tracking_log_set_sink(nullptr);
    if (initialised_) {
      m_imu_3dof_close(&f_);
    }
  }
  void init(uint32_t flags) {
    m_imu_3dof_init(&f_, flags);
    initialised_ = true;
  }
  void step(const vec3& accel, const vec3& gyro) {
    m_imu_3dof_update(&f_, t_, &accel, &gyro, 25.0f);
    t_ += kMs;
  }

  m_imu_3dof f_{};
  bool initialised_ = false;
  uint64_t t_ = 1000 * kMs;
  std::vector<std::string> log_;
};

TEST_F(Imu3dof, ConstantBodyRateFromATurnedStartIntegratesOnTheRight) {
  std::mt19937 rng(21);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  for (int trial = 0; trial < 5; trial++) {
    SCOPED_TRACE(trial);
    init(0);
    const quat q0 = axis_angle(vec3{normal(rng), normal(rng), normal(rng)}, 1.3f);
    f_.orientation = q0;
    vec3 axis{normal(rng), normal(rng), normal(rng)};
    math_vec3_normalize(&axis);
    const vec3 accel{0.0f, 9.8f, 0.0f};
    for (int i = 0; i <= 1000; i++) {
      step(accel, axis);  // |axis| = 1 rad/s
    }
    const quat turn = axis_angle(axis, 1.0f);
    quat expected;
    math_quat_rotate(&q0, &turn, &expected);
    EXPECT_LT(rotation_distance(f_.orientation, expected), 1e-4f);
    m_imu_3dof_close(&f_);
    initialised_ = false;
  }
}

TEST_F(Imu3dof, StaysUnitOverManyRandomSteps) {
  init(M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
  std::mt19937 rng(4);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  for (int i = 0; i < 100000; i++) {
    const vec3 gyro{normal(rng) * 2.0f, normal(rng) * 2.0f, normal(rng) * 2.0f};
    const vec3 accel{normal(rng) * 0.3f, 9.8f + normal(rng) * 0.3f, normal(rng) * 0.3f};
    step(accel, i % 3000 < 1500 ? gyro : vec3{0.0f, 0.0f, 0.0f});
    ASSERT_NEAR(map_quat(f_.orientation).norm(), 1.0f, 1e-6f) << i;
  }
}

TEST_F(Imu3dof, TinyRatesLeaveTheOrientationAlone) {
  init(0);
  const quat q0 = axis_angle(vec3{1.0f, 1.0f, 0.0f}, 0.4f);
  f_.orientation = q0;
  for (int i = 0; i < 100; i++) {
    step(vec3{0.0f, 9.8f, 0.0f}, vec3{0.00005f, -0.00005f, 0.00005f});
  }
  EXPECT_LT(rotation_distance(f_.orientation, q0), 1e-6f);
}

TEST_F(Imu3dof, FirstRestWindowRemovesTheWholeTiltAtOnce) {
  init(M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
  const vec3 accel{9.8f, 0.0f, 0.0f};
  const vec3 still{0.0f, 0.0f, 0.0f};
  int corrected_at = -1;
  for (int i = 0; i < 200 && corrected_at < 0; i++) {
    const quat before = f_.orientation;
    step(accel, still);
    const float turned = rotation_distance(before, f_.orientation);
    if (turned > 0.0f) {
      EXPECT_NEAR(turned, kPi / 2.0f, 1e-4f);
      corrected_at = i;
    }
  }
  // The window start is zero until something moves, so the first fused
  // sample already closes a rest window.
  EXPECT_EQ(corrected_at, 1);
  EXPECT_LT(tilt_error(f_, accel), 1e-3f);
  EXPECT_FALSE(f_.first_correction_pending);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0], "vandrel first correction! 0");
}

TEST_F(Imu3dof, LaterCorrectionsConvergeWithinTheRateBounds) {
  init(M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
  const vec3 accel{0.0f, 9.8f, 0.0f};
  const vec3 still{0.0f, 0.0f, 0.0f};
  for (int i = 0; i < 100; i++) {
    step(accel, still);  // settles the pending first correction (none needed)
  }
  f_.first_correction_pending = false;
  const quat tilt = axis_angle(vec3{1.0f, 0.0f, 0.5f}, 0.3f);
  const quat before = f_.orientation;
  math_quat_rotate(&tilt, &before, &f_.orientation);

  const float max_per_step = kPi * static_cast<float>(kDt) / 5.0f;
  float error = tilt_error(f_, accel);
  float error_at_2s = 0.0f;
  for (int i = 0; i < 8000; i++) {
    step(accel, still);
    const float now = tilt_error(f_, accel);
    ASSERT_LE(std::fabs(error - now), max_per_step + 1e-5f) << i;
    error = now;
    if (i == 2000) {
      error_at_2s = now;
    }
  }
  // At rest the slowest rate applies, pi/60 rad/s: 0.1 rad in 2 s, then done.
  EXPECT_NEAR(error_at_2s, 0.3f - kPi / 60.0f * 1.7f, 0.03f);
  EXPECT_LT(error, 0.02f);
}

TEST_F(Imu3dof, GravityCorrectionNeverChangesHeading) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> angle(-3.0f, 3.0f);
  for (int trial = 0; trial < 4; trial++) {
    SCOPED_TRACE(trial);
    init(M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
    const float psi = angle(rng);
    const quat twist = axis_angle(vec3{0.0f, 1.0f, 0.0f}, psi);
    const quat swing = axis_angle(vec3{std::cos(psi + 1.0f), 0.0f, std::sin(psi + 1.0f)},
                                  0.2f + 0.3f * static_cast<float>(trial));
    math_quat_rotate(&swing, &twist, &f_.orientation);
    ASSERT_NEAR(heading(f_.orientation), psi, 1e-4f);
    // The head really is level: the sensor measures gravity along body +Y.
    const vec3 accel{0.0f, 9.8f, 0.0f};
    for (int i = 0; i < 12000; i++) {
      step(accel, vec3{0.0f, 0.0f, 0.0f});
      ASSERT_NEAR(heading(f_.orientation), psi, 2e-4f) << i;
    }
    EXPECT_LT(tilt_error(f_, accel), 0.02f);
    m_imu_3dof_close(&f_);
    initialised_ = false;
  }
}

TEST_F(Imu3dof, MotionRestartsTheRestWindow) {
  init(M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
  f_.first_correction_pending = false;
  const vec3 accel{9.8f, 0.0f, 0.0f};
  step(accel, vec3{0.0f, 0.0f, 0.0f});
  step(vec3{12.0f, 0.0f, 0.0f}, vec3{0.0f, 0.0f, 0.0f});  // off gravity: window restarts
  int corrected_at = -1;
  for (int i = 0; i < 400 && corrected_at < 0; i++) {
    const quat before = f_.orientation;
    step(accel, vec3{0.0f, 0.0f, 0.0f});
    if (rotation_distance(before, f_.orientation) > 0.0f) {
      corrected_at = i;
    }
  }
  EXPECT_EQ(corrected_at, 300);
}

TEST_F(Imu3dof, FlagsZeroNeverCorrects) {
  init(0);
  const vec3 accel{9.8f, 0.0f, 0.0f};
  for (int i = 0; i < 2000; i++) {
    step(accel, vec3{0.0f, 0.0f, 0.0f});
  }
  EXPECT_EQ(f_.orientation.w, 1.0f);
  EXPECT_TRUE(f_.first_correction_pending);
  EXPECT_TRUE(log_.empty());
}

TEST_F(Imu3dof, UpsideDownGravityStillGivesAValidLevelOrientation) {
  init(M_IMU_3DOF_USE_GRAVITY_DUR_300MS);
  const vec3 accel{0.0f, -9.8f, 0.0f};
  for (int i = 0; i < 200; i++) {
    step(accel, vec3{0.0f, 0.0f, 0.0f});
    ASSERT_TRUE(math_quat_validate_within_epsilon(&f_.orientation)) << i;
  }
  EXPECT_FALSE(f_.first_correction_pending);
  EXPECT_LT(tilt_error(f_, accel), 1e-3f);
}

TEST_F(Imu3dof, ResetKeepsTheRingsAndFlags) {
  init(M_IMU_3DOF_USE_GRAVITY_DUR_60MS);
  m_ff_vec3_f32* ring = f_.word_accel_fifo;
  f_.orientation = axis_angle(vec3{0.0f, 0.0f, 1.0f}, 1.0f);
  f_.first_correction_pending = false;
  m_imu_3dof_reset(&f_);
  EXPECT_EQ(f_.word_accel_fifo, ring);
  EXPECT_EQ(f_.flags, M_IMU_3DOF_USE_GRAVITY_DUR_60MS);
  EXPECT_EQ(f_.orientation.w, 1.0f);
  EXPECT_TRUE(f_.first_correction_pending);
  EXPECT_EQ(f_.first_correction_counter, 1u);
}

TEST(Vec3Helpers, AngleAndNormalizeEdges) {
  EXPECT_EQ(m_vec3_angle(vec3{0.0f, 0.0f, 0.0f}, vec3{1.0f, 0.0f, 0.0f}), 0.0f);
  EXPECT_NEAR(m_vec3_angle(vec3{0.0f, 2.0f, 0.0f}, vec3{0.0f, -3.0f, 0.0f}), kPi, 1e-6f);
  EXPECT_NEAR(m_vec3_angle(vec3{1.0f, 0.0f, 0.0f}, vec3{1.0f, 1.0f, 0.0f}), kPi / 4.0f, 1e-6f);
  const vec3 tiny{1e-8f, 0.0f, 0.0f};
  EXPECT_EQ(m_vec3_normalize(tiny).x, 1e-8f);
  EXPECT_FLOAT_EQ(m_vec3_normalize(vec3{0.0f, 0.0f, 5.0f}).z, 1.0f);
}

TEST(Imu3dofDeathTest, EarlierTimeStops) {
  m_imu_3dof f{};
  m_imu_3dof_init(&f, 0);
  const vec3 accel{0.0f, 9.8f, 0.0f};
  const vec3 gyro{0.0f, 0.0f, 0.0f};
  m_imu_3dof_update(&f, 2000, &accel, &gyro, 0.0f);
  m_imu_3dof_update(&f, 3000, &accel, &gyro, 0.0f);
  EXPECT_DEATH(m_imu_3dof_update(&f, 2999, &accel, &gyro, 0.0f),
               "m_imu_3dof.cpp: m_imu_3dof_update: Assertion "
               "`timestamp_ns >= f->last.timestamp_ns' failed");
  m_imu_3dof_close(&f);
}

}  // namespace
}  // namespace vistrelle::tracking
