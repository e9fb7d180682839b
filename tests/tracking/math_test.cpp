#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tracking/m_base.h"
#include "tracking/m_quatexpmap.h"

namespace vistrelle::tracking {
namespace {

constexpr float kPi = 3.14159265358979f;

quat axis_angle(vec3 axis, float angle) {
  quat q;
  vec3 unit = axis;
  math_vec3_normalize(&unit);
  math_quat_from_axis_angle(&unit, angle, &q);
  return q;
}

// Same rotation: q and -q both count.
float rotation_distance(const quat& a, const quat& b) {
  const Eigen::Quaterniond d =
      map_quat_const(a).cast<double>().conjugate() * map_quat_const(b).cast<double>();
  return static_cast<float>(2.0 * std::atan2(d.vec().norm(), std::fabs(d.w())));
}

vec3 random_vec3(std::mt19937& rng, float max_length) {
  std::normal_distribution<float> normal(0.0f, 1.0f);
  std::uniform_real_distribution<float> length(0.0f, max_length);
  vec3 v{normal(rng), normal(rng), normal(rng)};
  math_vec3_normalize(&v);
  math_vec3_scalar_mul(length(rng), &v);
  return v;
}

quat random_quat(std::mt19937& rng) {
  quat q;
  map_quat(q) = Eigen::Quaternionf::UnitRandom();
  (void)rng;
  return q;
}

void expect_vec3_near(const vec3& actual, const vec3& expected, float tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(QuatExpMap, ExpOfZeroIsIdentityAndOfQuarterTurnIsHalfTurnAboutX) {
  quat q;
  const vec3 zero{0.0f, 0.0f, 0.0f};
  math_quat_exp(&zero, &q);
  EXPECT_FLOAT_EQ(q.w, 1.0f);
  EXPECT_FLOAT_EQ(map_quat(q).vec().norm(), 0.0f);

  const vec3 quarter{kPi / 2.0f, 0.0f, 0.0f};
  math_quat_exp(&quarter, &q);
  EXPECT_NEAR(q.x, 1.0f, 1e-6f);
  EXPECT_NEAR(q.y, 0.0f, 1e-6f);
  EXPECT_NEAR(q.z, 0.0f, 1e-6f);
  EXPECT_NEAR(q.w, 0.0f, 1e-6f);
}

TEST(QuatExpMap, LnGivesHalfAngleTimesAxisIncludingSeriesRegion) {
  for (float half : {0.5f, 1e-3f, 5e-5f, 1e-7f}) {
    SCOPED_TRACE(half);
    const quat q{std::sin(half), 0.0f, 0.0f, std::cos(half)};
    vec3 v;
    math_quat_ln(&q, &v);
    EXPECT_NEAR(v.x, half, half * 1e-5f);
    EXPECT_EQ(v.y, 0.0f);
    EXPECT_EQ(v.z, 0.0f);
  }
  const quat identity{0.0f, 0.0f, 0.0f, 1.0f};
  vec3 v;
  math_quat_ln(&identity, &v);
  expect_vec3_near(v, vec3{0.0f, 0.0f, 0.0f}, 0.0f);
}

TEST(QuatExpMap, ExpLnRoundTripOverRandomVectors) {
  std::mt19937 rng(7);
  // Lengths spread over the whole range, the ln series region (< 1e-4) and
  // the exp series region (< 1e-6) included.
  for (float max_length : {3.0f, 1e-4f, 1e-6f}) {
    for (int i = 0; i < 2000; i++) {
      const vec3 v = random_vec3(rng, max_length);
      quat q;
      math_quat_exp(&v, &q);
      ASSERT_TRUE(math_quat_validate_within_epsilon(&q));
      vec3 back;
      math_quat_ln(&q, &back);
      const float tolerance = std::max(2e-5f * map_vec3_const(v).norm(), 1e-12f);
      ASSERT_NEAR(back.x, v.x, tolerance) << i;
      ASSERT_NEAR(back.y, v.y, tolerance) << i;
      ASSERT_NEAR(back.z, v.z, tolerance) << i;
    }
  }
}

TEST(QuatExpMap, FiniteDifferenceAndIntegrationAboutZ) {
  const quat identity{0.0f, 0.0f, 0.0f, 1.0f};
  const quat turned = axis_angle(vec3{0.0f, 0.0f, 1.0f}, 0.1f);
  vec3 rate;
  math_quat_finite_difference(&identity, &turned, 0.1f, &rate);
  expect_vec3_near(rate, vec3{0.0f, 0.0f, 1.0f}, 1e-5f);

  quat back;
  math_quat_integrate_velocity(&identity, &rate, 0.1f, &back);
  EXPECT_LT(rotation_distance(back, turned), 1e-5f);
}

TEST(QuatExpMap, WorldRateThroughBodyFrameIntegratesBackFromAnyStart) {
  // The difference is a world-frame rate and the integration a body-frame
  // one; turning the rate into the body frame must close the loop.  Mixing
  // the sides up fails for every start but the identity.
  std::mt19937 rng(11);
  for (int i = 0; i < 500; i++) {
    const quat q0 = random_quat(rng);
    const quat step = axis_angle(random_vec3(rng, 1.0f), 2.5f * (i % 10 + 1) / 10.0f);
    quat q1;
    math_quat_rotate(&step, &q0, &q1);
    const float dt = 0.01f;
    vec3 world_rate;
    math_quat_finite_difference(&q0, &q1, dt, &world_rate);
    const quat q0_inverse{-q0.x, -q0.y, -q0.z, q0.w};
    vec3 body_rate;
    math_quat_rotate_derivative(&q0_inverse, &world_rate, &body_rate);
    quat integrated;
    math_quat_integrate_velocity(&q0, &body_rate, dt, &integrated);
    ASSERT_LT(rotation_distance(integrated, q1), 1e-4f) << i;
  }
}

TEST(QuatExpMap, FiniteDifferenceIgnoresTheSignOfTheQuaternion) {
  std::mt19937 rng(3);
  for (int i = 0; i < 200; i++) {
    const quat q0 = random_quat(rng);
    const quat step = axis_angle(random_vec3(rng, 1.0f), 0.002f);
    quat q1;
    math_quat_rotate(&step, &q0, &q1);
    const quat q1_negated{-q1.x, -q1.y, -q1.z, -q1.w};
    vec3 rate;
    vec3 rate_negated;
    math_quat_finite_difference(&q0, &q1, 0.001f, &rate);
    math_quat_finite_difference(&q0, &q1_negated, 0.001f, &rate_negated);
    ASSERT_NEAR(map_vec3_const(rate).norm(), 2.0f, 0.02f) << i;
    expect_vec3_near(rate_negated, rate, 1e-3f);
  }
}

TEST(SwingTwist, RoundTripsAndMatchesItsParts) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> angle(-3.0f, 3.0f);
  for (int i = 0; i < 1000; i++) {
    vec2 swing{angle(rng) / 1.5f, angle(rng) / 1.5f};
    if (std::hypot(swing.x, swing.y) > 3.0f) {
      continue;
    }
    const float twist = angle(rng);
    quat q;
    math_quat_from_swing_twist(&swing, twist, &q);
    ASSERT_TRUE(math_quat_validate(&q));

    // The composition is swing after twist about +Z.
    quat swing_only;
    math_quat_from_swing(&swing, &swing_only);
    const quat twist_only = axis_angle(vec3{0.0f, 0.0f, 1.0f}, twist);
    quat composed;
    math_quat_rotate(&swing_only, &twist_only, &composed);
    ASSERT_LT(rotation_distance(q, composed), 1e-4f) << i;

    vec2 swing_back;
    float twist_back;
    math_quat_to_swing_twist(&q, &swing_back, &twist_back);
    ASSERT_NEAR(swing_back.x, swing.x, 2e-4f) << i;
    ASSERT_NEAR(swing_back.y, swing.y, 2e-4f) << i;
    ASSERT_NEAR(twist_back, twist, 2e-4f) << i;
  }
  quat identity;
  const vec2 none{0.0f, 0.0f};
  math_quat_from_swing(&none, &identity);
  EXPECT_EQ(identity.w, 1.0f);
  EXPECT_EQ(map_quat(identity).vec().norm(), 0.0f);
}

TEST(QuatNormalization, EnsureNormalizedThresholds) {
  struct Case {
    float norm;
    bool accepted;
    bool changed;
  };
  const Case cases[] = {
      {1.0f, true, false},      {1.0000001f, true, false}, {1.0000005f, true, true},
      {0.9999995f, true, true}, {1.000001f, false, false}, {0.999999f, false, false},
      {2.0f, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.norm);
    // A pure w makes the norm exact, so the bounds are tested to the ulp.
    quat q{0.0f, 0.0f, 0.0f, c.norm};
    const quat before = q;
    EXPECT_EQ(math_quat_ensure_normalized(&q), c.accepted);
    if (c.changed) {
      EXPECT_EQ(q.w, 1.0f);
    } else {
      EXPECT_EQ(q.w, before.w);
    }
  }
}

TEST(QuatValidate, RejectsNonFiniteAndOffUnitNorms) {
  const float nan = std::nanf("");
  const float inf = INFINITY;
  auto valid = [](quat q) { return math_quat_validate(&q); };
  auto valid_within_epsilon = [](quat q) { return math_quat_validate_within_epsilon(&q); };
  auto finite = [](vec3 v) { return math_vec3_validate(&v); };
  EXPECT_TRUE(valid(quat{0.0f, 0.0f, 0.0f, 1.009f}));
  EXPECT_FALSE(valid(quat{0.0f, 0.0f, 0.0f, 1.011f}));
  EXPECT_FALSE(valid(quat{nan, 0.0f, 0.0f, 1.0f}));
  EXPECT_FALSE(valid(quat{0.0f, inf, 0.0f, 1.0f}));
  EXPECT_FALSE(valid_within_epsilon(quat{0.0f, 0.0f, 0.0f, 1.001f}));
  EXPECT_FALSE(finite(vec3{0.0f, 0.0f, nan}));
  EXPECT_TRUE(finite(vec3{1e30f, -1e30f, 0.0f}));
}

TEST(QuatSlerp, TakesTheShortestPathAndHitsItsEnds) {
  const quat identity{0.0f, 0.0f, 0.0f, 1.0f};
  const quat turned = axis_angle(vec3{0.0f, 0.0f, 1.0f}, 0.2f);
  const quat turned_negated{-turned.x, -turned.y, -turned.z, -turned.w};
  quat half;
  math_quat_slerp(&identity, &turned_negated, 0.5f, &half);
  EXPECT_LT(rotation_distance(half, axis_angle(vec3{0.0f, 0.0f, 1.0f}, 0.1f)), 1e-5f);

  quat start;
  quat end;
  math_quat_slerp(&identity, &turned, 0.0f, &start);
  math_quat_slerp(&identity, &turned, 1.0f, &end);
  EXPECT_LT(rotation_distance(start, identity), 1e-5f);
  EXPECT_LT(rotation_distance(end, turned), 1e-5f);
}

TEST(QuatRotate, ProductOrderAndVectorRotation) {
  const quat about_z = axis_angle(vec3{0.0f, 0.0f, 1.0f}, kPi / 2.0f);
  const quat about_x = axis_angle(vec3{1.0f, 0.0f, 0.0f}, kPi / 2.0f);
  // In about_z ⊗ about_x, about_x acts first: Y goes to Z, then stays.
  quat both;
  math_quat_rotate(&about_z, &about_x, &both);
  const vec3 y{0.0f, 1.0f, 0.0f};
  vec3 rotated;
  math_quat_rotate_vec3(&both, &y, &rotated);
  expect_vec3_near(rotated, vec3{0.0f, 0.0f, 1.0f}, 1e-6f);

  quat undone;
  math_quat_unrotate(&about_z, &both, &undone);
  EXPECT_LT(rotation_distance(undone, about_x), 1e-6f);

  vec3 derivative;
  math_quat_rotate_derivative(&about_z, &y, &derivative);
  expect_vec3_near(derivative, vec3{-1.0f, 0.0f, 0.0f}, 1e-6f);
}

TEST(Pose, TransformInterpolateAndValidate) {
  pose transform{axis_angle(vec3{0.0f, 0.0f, 1.0f}, kPi / 2.0f), vec3{1.0f, 2.0f, 3.0f}};
  const vec3 point{1.0f, 0.0f, 0.0f};
  vec3 moved;
  math_pose_transform_point(&transform, &point, &moved);
  expect_vec3_near(moved, vec3{1.0f, 3.0f, 3.0f}, 1e-6f);

  pose inner{axis_angle(vec3{1.0f, 0.0f, 0.0f}, 0.3f), point};
  pose outer;
  math_pose_transform(&transform, &inner, &outer);
  expect_vec3_near(outer.position, moved, 1e-6f);
  quat expected;
  math_quat_rotate(&transform.orientation, &inner.orientation, &expected);
  EXPECT_LT(rotation_distance(outer.orientation, expected), 1e-6f);

  pose identity;
  math_pose_identity(&identity);
  EXPECT_TRUE(math_pose_validate(&identity));
  pose middle;
  math_pose_interpolate(&identity, &transform, 0.5f, &middle);
  expect_vec3_near(middle.position, vec3{0.5f, 1.0f, 1.5f}, 1e-6f);
  EXPECT_LT(rotation_distance(middle.orientation, axis_angle(vec3{0.0f, 0.0f, 1.0f}, kPi / 4.0f)),
            1e-5f);

  transform.position.y = std::nanf("");
  EXPECT_FALSE(math_pose_validate(&transform));
}

TEST(Matrices, AgreeWithQuaternionsAndInvert) {
  std::mt19937 rng(9);
  const quat q = random_quat(rng);
  matrix_3x3 r;
  math_matrix_3x3_from_quat(&q, &r);
  const vec3 v{0.3f, -1.2f, 2.0f};
  vec3 by_matrix;
  vec3 by_quat;
  math_matrix_3x3_transform_vec3(&r, &v, &by_matrix);
  math_quat_rotate_vec3(&q, &v, &by_quat);
  expect_vec3_near(by_matrix, by_quat, 1e-5f);

  matrix_3x3 rt;
  matrix_3x3 r_inverse;
  math_matrix_3x3_transpose(&r, &rt);
  math_matrix_3x3_inverse(&r, &r_inverse);
  EXPECT_TRUE(map_matrix_3x3(rt).isApprox(map_matrix_3x3(r_inverse), 1e-5f));
  matrix_3x3 product;
  math_matrix_3x3_multiply(&r, &r_inverse, &product);
  matrix_3x3 identity;
  math_matrix_3x3_identity(&identity);
  EXPECT_TRUE(map_matrix_3x3(product).isApprox(map_matrix_3x3(identity), 1e-5f));

  const pose p{q, vec3{4.0f, 5.0f, 6.0f}};
  const vec3 scale{2.0f, 3.0f, 0.5f};
  matrix_4x4 model;
  matrix_4x4 inverse_model;
  math_matrix_4x4_model(&p, &scale, &model);
  math_matrix_4x4_inverse_model(&p, &scale, &inverse_model);
  matrix_4x4 round_trip;
  math_matrix_4x4_multiply(&model, &inverse_model, &round_trip);
  matrix_4x4 identity4;
  math_matrix_4x4_identity(&identity4);
  EXPECT_TRUE(map_matrix_4x4(round_trip).isApprox(map_matrix_4x4(identity4), 1e-5f));
  matrix_4x4 general_inverse;
  math_matrix_4x4_inverse(&model, &general_inverse);
  EXPECT_TRUE(map_matrix_4x4(general_inverse).isApprox(map_matrix_4x4(inverse_model), 1e-4f));

  // Scale first, then rotation, then translation.
  const Eigen::Vector4f h = map_matrix_4x4(model) * Eigen::Vector4f(v.x, v.y, v.z, 1.0f);
  const vec3 scaled{v.x * scale.x, v.y * scale.y, v.z * scale.z};
  vec3 expected;
  math_pose_transform_point(&p, &scaled, &expected);
  expect_vec3_near(vec3{h.x(), h.y(), h.z()}, expected, 1e-4f);

  const vec3 unit_scale{1.0f, 1.0f, 1.0f};
  math_matrix_4x4_model(&p, &unit_scale, &model);
  pose back;
  math_pose_from_isometry(&model, &back);
  EXPECT_LT(rotation_distance(back.orientation, q), 1e-5f);
  expect_vec3_near(back.position, p.position, 1e-6f);
}

TEST(Vectors, CrossAndNormalizeInBothPrecisions) {
  const vec3 x{1.0f, 0.0f, 0.0f};
  const vec3 y{0.0f, 1.0f, 0.0f};
  vec3 z;
  math_vec3_cross(&x, &y, &z);
  expect_vec3_near(z, vec3{0.0f, 0.0f, 1.0f}, 0.0f);
  vec3 long_vec{3.0f, 0.0f, 4.0f};
  math_vec3_normalize(&long_vec);
  expect_vec3_near(long_vec, vec3{0.6f, 0.0f, 0.8f}, 1e-7f);

  const vec3_f64 xd{0.0, 1.0, 0.0};
  const vec3_f64 yd{0.0, 0.0, 1.0};
  vec3_f64 zd;
  math_vec3_f64_cross(&xd, &yd, &zd);
  EXPECT_EQ(zd.x, 1.0);
  vec3_f64 longd{0.0, 3.0, 4.0};
  math_vec3_f64_normalize(&longd);
  EXPECT_DOUBLE_EQ(longd.y, 0.6);

  vec3 acc{1.0f, 1.0f, 1.0f};
  math_vec3_accum(&x, &acc);
  math_vec3_subtract(&y, &acc);
  math_vec3_scalar_mul(2.0f, &acc);
  expect_vec3_near(acc, vec3{4.0f, 0.0f, 2.0f}, 0.0f);
}

TEST(MathChecksDeathTest, NullArgumentsAndZeroDtStopNamingTheExpression) {
  const quat identity{0.0f, 0.0f, 0.0f, 1.0f};
  quat out;
  vec3 rate{0.0f, 0.0f, 0.0f};
  EXPECT_DEATH(math_quat_rotate(nullptr, &identity, &out),
               "m_base.cpp: math_quat_rotate: Assertion `left != NULL' failed");
  EXPECT_DEATH(math_quat_integrate_velocity(&identity, &rate, 0.0f, &out),
               "m_quatexpmap.cpp: math_quat_integrate_velocity: Assertion `dt != 0' failed");
  EXPECT_DEATH(math_quat_finite_difference(&identity, &identity, 0.0f, &rate),
               "math_quat_finite_difference: Assertion `dt != 0' failed");
}

}  // namespace
}  // namespace vistrelle::tracking
