#pragma once

#include "tracking/m_base.h"

namespace vistrelle::tracking {

// Exponential map between rotation vectors and unit quaternions.  quat_exp
// takes the pure quaternion (v, 0), so a rotation by angle a about n is
// quat_exp(a / 2 * n), and quat_ln gives half the angle times the axis back.
Eigen::Quaternionf quat_exp(const Eigen::Vector3f& v);
Eigen::Vector3f quat_ln(const Eigen::Quaternionf& q);

void math_quat_exp(const vec3* in, quat* out);
void math_quat_ln(const quat* in, vec3* out);

// Turns q by ang_vel (rad/s, body frame: applied on the right) for dt s.
void math_quat_integrate_velocity(const quat* q, const vec3* ang_vel, float dt, quat* result);

// The world-frame angular rate that carries quat0 to quat1 in dt s.  q and -q
// are the same rotation, so the shorter way round is taken.
void math_quat_finite_difference(const quat* quat0, const quat* quat1, float dt, vec3* out_ang_vel);

}  // namespace vistrelle::tracking
