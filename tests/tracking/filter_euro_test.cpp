#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "tracking/imu_axis_filter.h"
#include "tracking/m_filter_euro.h"

namespace vistrelle::tracking {
namespace {

constexpr uint64_t kStepNs = 10000000;  // 100 Hz

TEST(OneEuro, StepAt100HzGivesTheSmoothingAlphaOnTheSecondSample) {
  const double expected = 2.0 * M_PI * 0.01 / (2.0 * M_PI * 0.01 + 1.0);
  m_filter_euro_f32 f;
  filter_euro_f32_init(&f, 1.0, 1.0, 0.0);
  float out = -1.0f;
  float in = 0.0f;
  filter_euro_f32_run(&f, kStepNs, &in, &out);
  EXPECT_EQ(out, 0.0f);
  in = 1.0f;
  filter_euro_f32_run(&f, 2 * kStepNs, &in, &out);
  EXPECT_NEAR(out, expected, 1e-6);
  EXPECT_NEAR(out, 0.0591, 1e-4);

  m_filter_euro_vec3 f3;
  filter_euro_vec3_init(&f3, 1.0, 1.0, 0.0);
  vec3 out3;
  const vec3 zero{0.0f, 0.0f, 0.0f};
  const vec3 one{1.0f, 1.0f, 1.0f};
  filter_euro_vec3_run(&f3, kStepNs, &zero, &out3);
  filter_euro_vec3_run(&f3, 2 * kStepNs, &one, &out3);
  EXPECT_NEAR(out3.x, expected, 1e-6);
  EXPECT_NEAR(out3.z, expected, 1e-6);
}

TEST(OneEuro, LargeBetaFollowsFastChanges) {
  m_filter_euro_f32 slow;
  m_filter_euro_f32 fast;
  filter_euro_f32_init(&slow, 1.0, 1.0, 0.0);
  filter_euro_f32_init(&fast, 1.0, 1.0, 100.0);
  float out_slow = 0.0f;
  float out_fast = 0.0f;
  for (int i = 0; i < 5; i++) {
    const float in = i == 0 ? 0.0f : 10.0f * static_cast<float>(i);
    filter_euro_f32_run(&slow, (i + 1) * kStepNs, &in, &out_slow);
    filter_euro_f32_run(&fast, (i + 1) * kStepNs, &in, &out_fast);
  }
  EXPECT_GT(out_fast, 38.0f);
  EXPECT_LT(out_slow, 10.0f);
}

TEST(OneEuro, RepeatedOrEarlierTimeReturnsThePreviousOutputWithoutNaN) {
  m_filter_euro_f32 f;
  filter_euro_f32_init(&f, 1.0, 1.0, 0.5);
  float out = 0.0f;
  float in = 0.0f;
  filter_euro_f32_run(&f, 5 * kStepNs, &in, &out);
  in = 1.0f;
  filter_euro_f32_run(&f, 6 * kStepNs, &in, &out);
  const float previous = out;
  in = 50.0f;
  filter_euro_f32_run(&f, 6 * kStepNs, &in, &out);  // dt = 0
  EXPECT_EQ(out, previous);
  filter_euro_f32_run(&f, 1 * kStepNs, &in, &out);  // time went back
  EXPECT_EQ(out, previous);
  in = 1.0f;
  filter_euro_f32_run(&f, 7 * kStepNs, &in, &out);
  EXPECT_TRUE(std::isfinite(out));
  EXPECT_GT(out, previous);

  m_filter_euro_quat q;
  filter_euro_quat_init(&q, 0.0, 10000.0, 1.6);
  const quat a{0.0f, 0.0f, std::sin(0.1f), std::cos(0.1f)};
  quat qout;
  filter_euro_quat_run(&q, kStepNs, &a, &qout);
  filter_euro_quat_run(&q, kStepNs, &a, &qout);
  EXPECT_TRUE(map_quat(qout).coeffs().allFinite());
  EXPECT_EQ(map_quat(qout).coeffs(), map_quat_const(a).coeffs());
}

TEST(OneEuro, Vec2RunNoCommitThenRunEqualsRunAlone) {
  m_filter_euro_vec2 peeked;
  m_filter_euro_vec2 plain;
  filter_euro_vec2_init(&peeked, 1.0, 2.0, 0.3);
  filter_euro_vec2_init(&plain, 1.0, 2.0, 0.3);
  vec2 out_peeked{0.0f, 0.0f};
  vec2 out_plain{0.0f, 0.0f};

  // A first sample run without commit writes nothing.
  const vec2 first{1.0f, -1.0f};
  vec2 untouched{42.0f, 42.0f};
  filter_euro_vec2_run_no_commit(&peeked, kStepNs, &first, &untouched);
  EXPECT_EQ(untouched.x, 42.0f);

  for (int i = 0; i < 20; i++) {
    const vec2 in{std::sin(0.3f * i), std::cos(0.2f * i)};
    const uint64_t t = (i + 1) * kStepNs;
    vec2 preview;
    filter_euro_vec2_run_no_commit(&peeked, t, &in, &preview);
    filter_euro_vec2_run(&peeked, t, &in, &out_peeked);
    filter_euro_vec2_run(&plain, t, &in, &out_plain);
    ASSERT_EQ(out_peeked.x, out_plain.x) << i;
    ASSERT_EQ(out_peeked.y, out_plain.y) << i;
    if (i > 0) {
      ASSERT_EQ(preview.x, out_plain.x) << i;
    }
  }
}

TEST(OneEuro, QuaternionFilterSmoothsTowardTheInput) {
  m_filter_euro_quat f;
  filter_euro_quat_init(&f, 1.0, 1.0, 0.0);
  const quat identity{0.0f, 0.0f, 0.0f, 1.0f};
  const quat turned{0.0f, std::sin(0.25f), 0.0f, std::cos(0.25f)};
  quat out;
  filter_euro_quat_run(&f, kStepNs, &identity, &out);
  EXPECT_EQ(out.w, 1.0f);
  filter_euro_quat_run(&f, 2 * kStepNs, &turned, &out);
  // Slerp by the smoothing alpha of fc 1 Hz at 100 Hz: 0.0591 of 0.5 rad.
  const float alpha = static_cast<float>(2.0 * M_PI * 0.01 / (2.0 * M_PI * 0.01 + 1.0));
  EXPECT_NEAR(2.0f * std::atan2(out.y, out.w), alpha * 0.5f, 1e-5f);
}

TEST(ImuAxisFilter, BlendsAndDerivesTheRate) {
  imu_axis_filter f;
  const vec3 in{1.0f, 2.0f, -3.0f};
  imu_axis_filter_update(&f, &in, 1000000000);  // records the time only
  EXPECT_EQ(f.value[0], 0.0f);
  imu_axis_filter_update(&f, &in, 1100000000);
  EXPECT_FLOAT_EQ(f.value[0], 0.9f);
  EXPECT_FLOAT_EQ(f.value[2], -2.7f);
  EXPECT_FLOAT_EQ(f.rate[1], 1.8f / 0.1f * 0.9f);

  f.offset = vec3{1.0f, 0.0f, 0.0f};
  imu_axis_filter_update(&f, &in, 1100000000);  // same time: nothing
  EXPECT_FLOAT_EQ(f.value[0], 0.9f);
  imu_axis_filter_update(&f, &in, 1200000000);
  EXPECT_FLOAT_EQ(f.value[0], 0.9f + 0.1f * (0.9f + 1.0f));

  imu_axis_filter_reset(&f);
  EXPECT_EQ(f.last_ns, 0u);
  EXPECT_EQ(f.value[0], 0.0f);
  EXPECT_EQ(f.offset.x, 0.0f);
  EXPECT_EQ(f.a, 0.9f);
}

}  // namespace
}  // namespace vistrelle::tracking
