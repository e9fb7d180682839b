#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace vistrelle::tracking {

// Plain records of the math layer.  They are viewed in place as Eigen types,
// so their member order is their memory layout.
struct vec2 {
  float x, y;
};

struct vec3 {
  float x, y, z;
};

struct vec3_f64 {
  double x, y, z;
};

// Identity is (0, 0, 0, 1); the order x, y, z, w matches Eigen's storage.
struct quat {
  float x, y, z, w;
};

struct pose {
  quat orientation;
  vec3 position;
};

// Column-major, as Eigen's default maps read them.
struct matrix_3x3 {
  float v[9];
};

struct matrix_4x4 {
  float v[16];
};

inline Eigen::Map<Eigen::Vector3f> map_vec3(vec3& v) {
  return Eigen::Map<Eigen::Vector3f>(&v.x);
}
inline Eigen::Map<const Eigen::Vector3f> map_vec3_const(const vec3& v) {
  return Eigen::Map<const Eigen::Vector3f>(&v.x);
}
inline Eigen::Map<Eigen::Quaternionf> map_quat(quat& q) {
  return Eigen::Map<Eigen::Quaternionf>(&q.x);
}
inline Eigen::Map<const Eigen::Quaternionf> map_quat_const(const quat& q) {
  return Eigen::Map<const Eigen::Quaternionf>(&q.x);
}
inline Eigen::Map<Eigen::Vector3d> map_vec3_f64(vec3_f64& v) {
  return Eigen::Map<Eigen::Vector3d>(&v.x);
}
inline Eigen::Map<Eigen::Matrix3f> map_matrix_3x3(matrix_3x3& m) {
  return Eigen::Map<Eigen::Matrix3f>(m.v);
}
inline Eigen::Map<const Eigen::Matrix3f> map_matrix_3x3_const(const matrix_3x3& m) {
  return Eigen::Map<const Eigen::Matrix3f>(m.v);
}
inline Eigen::Map<Eigen::Matrix4f> map_matrix_4x4(matrix_4x4& m) {
  return Eigen::Map<Eigen::Matrix4f>(m.v);
}
inline Eigen::Map<const Eigen::Matrix4f> map_matrix_4x4_const(const matrix_4x4& m) {
  return Eigen::Map<const Eigen::Matrix4f>(m.v);
}

// Small value helpers.
vec3 m_vec3_add(vec3 l, vec3 r);
vec3 m_vec3_mul_scalar(vec3 v, float s);
vec3 m_vec3_lerp(vec3 from, vec3 to, float amount);

// Vectors.
bool math_vec3_validate(const vec3* vec);
void math_vec3_accum(const vec3* additional, vec3* inAndOut);
void math_vec3_subtract(const vec3* subtrahend, vec3* inAndOut);
void math_vec3_scalar_mul(float scalar, vec3* inAndOut);
void math_vec3_cross(const vec3* l, const vec3* r, vec3* result);
// A zero vector stays zero.
void math_vec3_normalize(vec3* inAndOut);
void math_vec3_f64_cross(const vec3_f64* l, const vec3_f64* r, vec3_f64* result);
void math_vec3_f64_normalize(vec3_f64* inAndOut);

// Quaternions.  Products are Hamilton products; in left ⊗ right, right is
// applied first when rotating vectors.
bool quat_validate(const quat* q, float tolerance);
bool math_quat_validate(const quat* q);
bool math_quat_validate_within_epsilon(const quat* q);
void math_quat_normalize(quat* inout);
bool math_quat_ensure_normalized(quat* inout);
void math_quat_rotate(const quat* left, const quat* right, quat* result);
void math_quat_unrotate(const quat* left, const quat* right, quat* result);
void math_quat_rotate_vec3(const quat* left, const vec3* right, vec3* result);
void math_quat_rotate_derivative(const quat* rotation, const vec3* deriv, vec3* result);
void math_quat_slerp(const quat* left, const quat* right, float t, quat* result);
void math_quat_from_axis_angle(const vec3* axis, float angle, quat* result);
void math_quat_from_swing(const vec2* swing, quat* result);
void math_quat_from_swing_twist(const vec2* swing, float twist, quat* result);
void math_quat_to_swing_twist(const quat* in, vec2* out_swing, float* out_twist);

// Poses.
bool math_pose_validate(const pose* p);
void math_pose_identity(pose* p);
void math_pose_interpolate(const pose* a, const pose* b, float t, pose* outPose);
void math_pose_transform(const pose* transform, const pose* in_pose, pose* outPose);
void math_pose_transform_point(const pose* transform, const vec3* point, vec3* out_point);

// 3x3 matrices.
void math_matrix_3x3_identity(matrix_3x3* result);
void math_matrix_3x3_multiply(const matrix_3x3* left, const matrix_3x3* right, matrix_3x3* result);
void math_matrix_3x3_inverse(const matrix_3x3* in, matrix_3x3* result);
void math_matrix_3x3_transpose(const matrix_3x3* in, matrix_3x3* result);
void math_matrix_3x3_transform_vec3(const matrix_3x3* left, const vec3* right, vec3* result);
void math_matrix_3x3_from_quat(const quat* rotation, matrix_3x3* result);

// 4x4 matrices.  A model transform scales, then rotates, then translates.
void math_matrix_4x4_identity(matrix_4x4* result);
void math_matrix_4x4_multiply(const matrix_4x4* left, const matrix_4x4* right, matrix_4x4* result);
void math_matrix_4x4_inverse(const matrix_4x4* in, matrix_4x4* result);
void math_matrix_4x4_model(const pose* transform, const vec3* scale, matrix_4x4* result);
void math_matrix_4x4_inverse_model(const pose* transform, const vec3* scale, matrix_4x4* result);
// The pose of a rigid (rotation plus translation) transform.
void math_pose_from_isometry(const matrix_4x4* transform, pose* result);

}  // namespace vistrelle::tracking
