#pragma once

#include <cstdint>

#include "tracking/m_base.h"
#include "tracking/m_filter_fifo.h"

namespace vistrelle::tracking {

// Gravity correction with a 300 ms rest window.
constexpr uint32_t M_IMU_3DOF_USE_GRAVITY_DUR_300MS = 1u << 0;
// Gravity correction with a 60 ms rest window.
constexpr uint32_t M_IMU_3DOF_USE_GRAVITY_DUR_60MS = 1u << 1;

// Gyro integration plus a slow tilt correction that, while the head rests,
// turns the orientation so that measured gravity points along world +Y.
struct m_imu_3dof {
  quat orientation;

  struct {
    uint64_t timestamp_ns;
    vec3 gyro;   // rad/s
    vec3 accel;  // m/s²
    double delta_ms;
  } last;

  uint32_t has_first_sample;
  uint32_t flags;

  m_ff_vec3_f32* word_accel_fifo;
  m_ff_vec3_f32* gyro_fifo;

  struct {
    uint64_t last_ns;  // start of the current rest window
    vec3 axis;
    float error_angle;  // tilt still to remove, rad
    bool accel_off_gravity;
    bool gyro_moving;
  } grav;

  vec3 gyro_bias;  // rad/s
  bool gyro_bias_valid;
  bool first_correction_pending;
  uint32_t first_correction_counter;
};

void m_imu_3dof_init(m_imu_3dof* f, uint32_t flags);
// As init, keeping the FIFOs and the flags.
void m_imu_3dof_reset(m_imu_3dof* f);
void m_imu_3dof_close(m_imu_3dof* f);
// One step.  Times must not go backwards; the temperature is not used.
void m_imu_3dof_update(m_imu_3dof* f, uint64_t timestamp_ns, const vec3* accel, const vec3* gyro,
                       float temperature);
void m_imu_3dof_gravity_correction(m_imu_3dof* f, uint64_t timestamp_ns, const vec3* accel,
                                   const vec3* gyro_biased, double dt, float gyro_biased_length);

vec3 m_vec3_sub(vec3 l, vec3 r);
float m_vec3_len(vec3 v);
float m_vec3_len_sqrd(vec3 v);
float m_vec3_dot(vec3 l, vec3 r);
// A vector of length at most 1.1920929e-7 comes back unchanged.
vec3 m_vec3_normalize(vec3 v);
// Angle between the two, 0 when either has no length.
float m_vec3_angle(vec3 l, vec3 r);

}  // namespace vistrelle::tracking
