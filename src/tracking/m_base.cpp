#include "tracking/m_base.h"

#include <cmath>
#include <cstddef>

#include "tracking/tracking_check.h"

namespace vistrelle::tracking {
namespace {

constexpr float kEpsilon = 1.1920929e-7f;

// Hamilton product written out, so that non-unit quaternions (a vector
// embedded as (v, 0)) multiply exactly as the algebra says.
Eigen::Quaternionf hamilton(const Eigen::Quaternionf& a, const Eigen::Quaternionf& b) {
  return Eigen::Quaternionf(a.w() * b.w() - a.x() * b.x() - a.y() * b.y() - a.z() * b.z(),
                            a.w() * b.x() + a.x() * b.w() + a.y() * b.z() - a.z() * b.y(),
                            a.w() * b.y() - a.x() * b.z() + a.y() * b.w() + a.z() * b.x(),
                            a.w() * b.z() + a.x() * b.y() - a.y() * b.x() + a.z() * b.w());
}

Eigen::Affine3f model_transform(const pose& transform, const vec3& scale) {
  Eigen::Affine3f model = Eigen::Affine3f::Identity();
  model.translate(map_vec3_const(transform.position));
  model.rotate(map_quat_const(transform.orientation).normalized());
  model.scale(map_vec3_const(scale));
  return model;
}

}  // namespace

vec3 m_vec3_add(vec3 l, vec3 r) {
  return vec3{l.x + r.x, l.y + r.y, l.z + r.z};
}

vec3 m_vec3_mul_scalar(vec3 v, float s) {
  return vec3{v.x * s, v.y * s, v.z * s};
}

vec3 m_vec3_lerp(vec3 from, vec3 to, float amount) {
  return vec3{from.x + (to.x - from.x) * amount, from.y + (to.y - from.y) * amount,
              from.z + (to.z - from.z) * amount};
}

bool math_vec3_validate(const vec3* vec) {
  TRACKING_CHECK(vec != NULL);
  return map_vec3_const(*vec).allFinite();
}

void math_vec3_accum(const vec3* additional, vec3* inAndOut) {
  TRACKING_CHECK(additional != NULL);
  TRACKING_CHECK(inAndOut != NULL);
  map_vec3(*inAndOut) += map_vec3_const(*additional);
}

void math_vec3_subtract(const vec3* subtrahend, vec3* inAndOut) {
  TRACKING_CHECK(subtrahend != NULL);
  TRACKING_CHECK(inAndOut != NULL);
  map_vec3(*inAndOut) -= map_vec3_const(*subtrahend);
}

void math_vec3_scalar_mul(float scalar, vec3* inAndOut) {
  TRACKING_CHECK(inAndOut != NULL);
  map_vec3(*inAndOut) *= scalar;
}

void math_vec3_cross(const vec3* l, const vec3* r, vec3* result) {
  TRACKING_CHECK(l != NULL);
  TRACKING_CHECK(r != NULL);
  TRACKING_CHECK(result != NULL);
  map_vec3(*result) = map_vec3_const(*l).cross(map_vec3_const(*r));
}

void math_vec3_normalize(vec3* inAndOut) {
  TRACKING_CHECK(inAndOut != NULL);
  map_vec3(*inAndOut).normalize();
}

void math_vec3_f64_cross(const vec3_f64* l, const vec3_f64* r, vec3_f64* result) {
  TRACKING_CHECK(l != NULL);
  TRACKING_CHECK(r != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Vector3d lv(l->x, l->y, l->z);
  const Eigen::Vector3d rv(r->x, r->y, r->z);
  map_vec3_f64(*result) = lv.cross(rv);
}

void math_vec3_f64_normalize(vec3_f64* inAndOut) {
  TRACKING_CHECK(inAndOut != NULL);
  map_vec3_f64(*inAndOut).normalize();
}

bool quat_validate(const quat* q, float tolerance) {
  TRACKING_CHECK(q != NULL);
  const auto rot = map_quat_const(*q);
  if (!rot.coeffs().allFinite()) {
    return false;
  }
  const float norm = rot.norm();
  return norm >= 1.0f - tolerance && norm <= 1.0f + tolerance;
}

bool math_quat_validate(const quat* q) {
  return quat_validate(q, 0.01f);
}

bool math_quat_validate_within_epsilon(const quat* q) {
  return quat_validate(q, kEpsilon);
}

void math_quat_normalize(quat* inout) {
  TRACKING_CHECK(inout != NULL);
  map_quat(*inout).normalize();
}

bool math_quat_ensure_normalized(quat* inout) {
  TRACKING_CHECK(inout != NULL);
  if (math_quat_validate_within_epsilon(inout)) {
    return true;
  }
  const float norm = map_quat(*inout).norm();
  if (norm >= 0.9999994f && norm <= 1.0000006f) {
    math_quat_normalize(inout);
    return true;
  }
  return false;
}

void math_quat_rotate(const quat* left, const quat* right, quat* result) {
  TRACKING_CHECK(left != NULL);
  TRACKING_CHECK(right != NULL);
  TRACKING_CHECK(result != NULL);
  map_quat(*result) = hamilton(map_quat_const(*left), map_quat_const(*right));
}

void math_quat_unrotate(const quat* left, const quat* right, quat* result) {
  TRACKING_CHECK(left != NULL);
  TRACKING_CHECK(right != NULL);
  TRACKING_CHECK(result != NULL);
  map_quat(*result) = hamilton(map_quat_const(*left).conjugate(), map_quat_const(*right));
}

void math_quat_rotate_vec3(const quat* left, const vec3* right, vec3* result) {
  TRACKING_CHECK(left != NULL);
  TRACKING_CHECK(right != NULL);
  TRACKING_CHECK(result != NULL);
  map_vec3(*result) = map_quat_const(*left) * map_vec3_const(*right);
}

void math_quat_rotate_derivative(const quat* rotation, const vec3* deriv, vec3* result) {
  TRACKING_CHECK(rotation != NULL);
  TRACKING_CHECK(deriv != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Quaternionf q = map_quat_const(*rotation);
  const Eigen::Quaternionf d(0.0f, deriv->x, deriv->y, deriv->z);
  map_vec3(*result) = hamilton(hamilton(q, d), q.conjugate()).vec();
}

void math_quat_slerp(const quat* left, const quat* right, float t, quat* result) {
  TRACKING_CHECK(left != NULL);
  TRACKING_CHECK(right != NULL);
  TRACKING_CHECK(result != NULL);
  map_quat(*result) = map_quat_const(*left).slerp(t, map_quat_const(*right));
}

void math_quat_from_axis_angle(const vec3* axis, float angle, quat* result) {
  TRACKING_CHECK(axis != NULL);
  TRACKING_CHECK(result != NULL);
  const float s = std::sin(angle / 2.0f);
  *result = quat{axis->x * s, axis->y * s, axis->z * s, std::cos(angle / 2.0f)};
}

void math_quat_from_swing(const vec2* swing, quat* result) {
  TRACKING_CHECK(swing != NULL);
  TRACKING_CHECK(result != NULL);
  const float x = swing->x;
  const float y = swing->y;
  const float s2 = x * x + y * y;
  if (s2 > 0.0f) {
    const float theta = std::sqrt(s2);
    const float k = std::sin(theta / 2.0f) / theta;
    *result = quat{x * k, y * k, 0.0f, std::cos(theta / 2.0f)};
  } else {
    *result = quat{0.5f * x, 0.5f * y, 0.0f, 1.0f};
  }
}

void math_quat_from_swing_twist(const vec2* swing, float twist, quat* result) {
  TRACKING_CHECK(swing != NULL);
  TRACKING_CHECK(result != NULL);
  const float x = swing->x;
  const float y = swing->y;
  const float tau = twist / 2.0f;
  const float ct = std::cos(tau);
  const float st = std::sin(tau);
  const float s2 = x * x + y * y;
  if (s2 > 0.0f) {
    const float theta = std::sqrt(s2);
    const float k = std::sin(theta / 2.0f) / theta;
    const float c = std::cos(theta / 2.0f);
    *result = quat{(x * ct + y * st) * k, (y * ct - x * st) * k, c * st, c * ct};
  } else {
    *result = quat{(x * ct + y * st) * 0.5f, (y * ct - x * st) * 0.5f, st, ct};
  }
}

void math_quat_to_swing_twist(const quat* in, vec2* out_swing, float* out_twist) {
  TRACKING_CHECK(in != NULL);
  TRACKING_CHECK(out_swing != NULL);
  TRACKING_CHECK(out_twist != NULL);
  const Eigen::Quaternionf q = map_quat_const(*in).normalized();
  // The swing is the shortest rotation taking +Z to where q takes it; what q
  // does beyond that is a rotation about +Z.
  const Eigen::Vector3f z = Eigen::Vector3f::UnitZ();
  const Eigen::Quaternionf swing = Eigen::Quaternionf::FromTwoVectors(z, q * z);
  const Eigen::AngleAxisf swing_aax(swing);
  TRACKING_CHECK(swing_aax.axis().z() < 0.001);
  const Eigen::Vector3f swing_vec = swing_aax.axis() * swing_aax.angle();
  out_swing->x = swing_vec.x();
  out_swing->y = swing_vec.y();
  const Eigen::Quaternionf twist = swing.conjugate() * q;
  *out_twist = 2.0f * std::atan2(twist.z(), twist.w());
}

bool math_pose_validate(const pose* p) {
  TRACKING_CHECK(p != NULL);
  return math_vec3_validate(&p->position) && math_quat_validate_within_epsilon(&p->orientation);
}

void math_pose_identity(pose* p) {
  TRACKING_CHECK(p != NULL);
  p->orientation = quat{0.0f, 0.0f, 0.0f, 1.0f};
  p->position = vec3{0.0f, 0.0f, 0.0f};
}

void math_pose_interpolate(const pose* a, const pose* b, float t, pose* outPose) {
  TRACKING_CHECK(a != NULL);
  TRACKING_CHECK(b != NULL);
  TRACKING_CHECK(outPose != NULL);
  math_quat_slerp(&a->orientation, &b->orientation, t, &outPose->orientation);
  map_vec3(outPose->position) =
      (1.0f - t) * map_vec3_const(a->position) + t * map_vec3_const(b->position);
}

void math_pose_transform(const pose* transform, const pose* in_pose, pose* outPose) {
  TRACKING_CHECK(transform != NULL);
  TRACKING_CHECK(in_pose != NULL);
  TRACKING_CHECK(outPose != NULL);
  pose result;
  math_quat_rotate(&transform->orientation, &in_pose->orientation, &result.orientation);
  math_pose_transform_point(transform, &in_pose->position, &result.position);
  *outPose = result;
}

void math_pose_transform_point(const pose* transform, const vec3* point, vec3* out_point) {
  TRACKING_CHECK(transform != NULL);
  TRACKING_CHECK(point != NULL);
  TRACKING_CHECK(out_point != NULL);
  vec3 rotated;
  math_quat_rotate_vec3(&transform->orientation, point, &rotated);
  map_vec3(*out_point) = map_vec3_const(rotated) + map_vec3_const(transform->position);
}

void math_matrix_3x3_identity(matrix_3x3* result) {
  TRACKING_CHECK(result != NULL);
  map_matrix_3x3(*result).setIdentity();
}

void math_matrix_3x3_multiply(const matrix_3x3* left, const matrix_3x3* right, matrix_3x3* result) {
  TRACKING_CHECK(left != NULL);
  TRACKING_CHECK(right != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Matrix3f product = map_matrix_3x3_const(*left) * map_matrix_3x3_const(*right);
  map_matrix_3x3(*result) = product;
}

void math_matrix_3x3_inverse(const matrix_3x3* in, matrix_3x3* result) {
  TRACKING_CHECK(in != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Matrix3f inverse = map_matrix_3x3_const(*in).inverse();
  map_matrix_3x3(*result) = inverse;
}

void math_matrix_3x3_transpose(const matrix_3x3* in, matrix_3x3* result) {
  TRACKING_CHECK(in != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Matrix3f transposed = map_matrix_3x3_const(*in).transpose();
  map_matrix_3x3(*result) = transposed;
}

void math_matrix_3x3_transform_vec3(const matrix_3x3* left, const vec3* right, vec3* result) {
  TRACKING_CHECK(left != NULL);
  TRACKING_CHECK(right != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Vector3f product = map_matrix_3x3_const(*left) * map_vec3_const(*right);
  map_vec3(*result) = product;
}

void math_matrix_3x3_from_quat(const quat* rotation, matrix_3x3* result) {
  TRACKING_CHECK(rotation != NULL);
  TRACKING_CHECK(result != NULL);
  map_matrix_3x3(*result) = map_quat_const(*rotation).normalized().toRotationMatrix();
}

void math_matrix_4x4_identity(matrix_4x4* result) {
  TRACKING_CHECK(result != NULL);
  map_matrix_4x4(*result).setIdentity();
}

void math_matrix_4x4_multiply(const matrix_4x4* left, const matrix_4x4* right, matrix_4x4* result) {
  TRACKING_CHECK(left != NULL);
  TRACKING_CHECK(right != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Matrix4f product = map_matrix_4x4_const(*left) * map_matrix_4x4_const(*right);
  map_matrix_4x4(*result) = product;
}

void math_matrix_4x4_inverse(const matrix_4x4* in, matrix_4x4* result) {
  TRACKING_CHECK(in != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Matrix4f inverse = map_matrix_4x4_const(*in).inverse();
  map_matrix_4x4(*result) = inverse;
}

void math_matrix_4x4_model(const pose* transform, const vec3* scale, matrix_4x4* result) {
  TRACKING_CHECK(transform != NULL);
  TRACKING_CHECK(scale != NULL);
  TRACKING_CHECK(result != NULL);
  map_matrix_4x4(*result) = model_transform(*transform, *scale).matrix();
}

void math_matrix_4x4_inverse_model(const pose* transform, const vec3* scale, matrix_4x4* result) {
  TRACKING_CHECK(transform != NULL);
  TRACKING_CHECK(scale != NULL);
  TRACKING_CHECK(result != NULL);
  // Scale may be non-uniform, so the general affine inverse is needed.
  map_matrix_4x4(*result) = model_transform(*transform, *scale).inverse(Eigen::Affine).matrix();
}

void math_pose_from_isometry(const matrix_4x4* transform, pose* result) {
  TRACKING_CHECK(transform != NULL);
  TRACKING_CHECK(result != NULL);
  const Eigen::Matrix4f m = map_matrix_4x4_const(*transform);
  const Eigen::Matrix3f rotation = m.topLeftCorner<3, 3>();
  map_quat(result->orientation) = Eigen::Quaternionf(rotation).normalized();
  map_vec3(result->position) = m.topRightCorner<3, 1>();
}

}  // namespace vistrelle::tracking
