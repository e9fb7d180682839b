#include "tracking/m_quatexpmap.h"

#include <cmath>
#include <cstddef>

#include "tracking/tracking_check.h"

namespace vistrelle::tracking {

Eigen::Quaternionf quat_exp(const Eigen::Vector3f& v) {
  const float theta = v.norm();
  const float sinc = theta < 1e-6f ? 1.0f - theta * theta / 6.0f : std::sin(theta) / theta;
  Eigen::Quaternionf result;
  result.vec() = sinc * v;
  result.w() = std::cos(theta);
  result.normalize();
  return result;
}

Eigen::Vector3f quat_ln(const Eigen::Quaternionf& q) {
  const float n = q.vec().norm();
  const double a = std::atan2(static_cast<double>(n), static_cast<double>(q.w()));
  double k;
  if (static_cast<double>(n) < 1e-4) {
    // a / sin(a) by its series, where the quotient loses precision.
    const double a2 = a * a;
    k = 1.0 + a2 / 6.0 + 7.0 * a2 * a2 / 360.0 + 31.0 * a2 * a2 * a2 / 15120.0;
  } else {
    k = a / std::sin(a);
  }
  return static_cast<float>(k) * q.vec();
}

void math_quat_exp(const vec3* in, quat* out) {
  TRACKING_CHECK(in != NULL);
  TRACKING_CHECK(out != NULL);
  map_quat(*out) = quat_exp(map_vec3_const(*in));
}

void math_quat_ln(const quat* in, vec3* out) {
  TRACKING_CHECK(in != NULL);
  TRACKING_CHECK(out != NULL);
  map_vec3(*out) = quat_ln(map_quat_const(*in));
}

void math_quat_integrate_velocity(const quat* q, const vec3* ang_vel, float dt, quat* result) {
  TRACKING_CHECK(q != NULL);
  TRACKING_CHECK(ang_vel != NULL);
  TRACKING_CHECK(result != NULL);
  TRACKING_CHECK(dt != 0);
  const Eigen::Quaternionf increment = quat_exp(0.5f * dt * map_vec3_const(*ang_vel)).normalized();
  map_quat(*result) = map_quat_const(*q) * increment;
}

void math_quat_finite_difference(const quat* quat0, const quat* quat1, float dt,
                                 vec3* out_ang_vel) {
  TRACKING_CHECK(quat0 != NULL);
  TRACKING_CHECK(quat1 != NULL);
  TRACKING_CHECK(out_ang_vel != NULL);
  TRACKING_CHECK(dt != 0);
  Eigen::Quaternionf delta = map_quat_const(*quat1) * map_quat_const(*quat0).conjugate();
  if (delta.w() < 0.0f) {
    delta.coeffs() = -delta.coeffs();
  }
  map_vec3(*out_ang_vel) = 2.0f * quat_ln(delta) / dt;
}

}  // namespace vistrelle::tracking
