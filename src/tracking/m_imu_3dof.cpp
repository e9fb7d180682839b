#include "tracking/m_imu_3dof.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "tracking/tracking_check.h"
#include "tracking/tracking_log.h"

namespace vistrelle::tracking {
namespace {

constexpr float kGravityRest = 9.82f;
constexpr float kGravityMean = 9.8f;
constexpr float kGravityTolerance = 0.9f;
constexpr float kGyroTolerance = 0.1f;
constexpr float kTiltThreshold = 0.01f;
constexpr float kMinRate = 0.0001f;
constexpr uint64_t kWindow300Ns = 300000000;
constexpr uint64_t kWindow60Ns = 60000000;
constexpr uint64_t kFifoLength = 10000;
constexpr float kEpsilon = 1.1920929e-7f;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

vec3 m_vec3_sub(vec3 l, vec3 r) {
  return vec3{l.x - r.x, l.y - r.y, l.z - r.z};
}

float m_vec3_len_sqrd(vec3 v) {
  return v.x * v.x + v.y * v.y + v.z * v.z;
}

float m_vec3_len(vec3 v) {
  return std::sqrt(m_vec3_len_sqrd(v));
}

float m_vec3_dot(vec3 l, vec3 r) {
  return l.x * r.x + l.y * r.y + l.z * r.z;
}

vec3 m_vec3_normalize(vec3 v) {
  const float len = m_vec3_len(v);
  if (len <= kEpsilon) {
    return v;
  }
  return vec3{v.x / len, v.y / len, v.z / len};
}

float m_vec3_angle(vec3 l, vec3 r) {
  const float l_len = m_vec3_len(l);
  const float r_len = m_vec3_len(r);
  if (l_len == 0.0f || r_len == 0.0f) {
    return 0.0f;
  }
  // Rounding can carry the cosine just past ±1.
  const float cosine = std::clamp(m_vec3_dot(l, r) / (l_len * r_len), -1.0f, 1.0f);
  return std::acos(cosine);
}

void m_imu_3dof_init(m_imu_3dof* f, uint32_t flags) {
  TRACKING_CHECK(f != NULL);
  *f = m_imu_3dof{};
  f->orientation = quat{0.0f, 0.0f, 0.0f, 1.0f};
  m_ff_vec3_f32_create(&f->word_accel_fifo, kFifoLength);
  m_ff_vec3_f32_create(&f->gyro_fifo, kFifoLength);
  f->flags = flags;
  f->first_correction_pending = true;
  f->first_correction_counter = 1;
}

void m_imu_3dof_reset(m_imu_3dof* f) {
  TRACKING_CHECK(f != NULL);
  m_ff_vec3_f32* accel_fifo = f->word_accel_fifo;
  m_ff_vec3_f32* gyro_fifo = f->gyro_fifo;
  const uint32_t flags = f->flags;
  *f = m_imu_3dof{};
  f->orientation = quat{0.0f, 0.0f, 0.0f, 1.0f};
  f->word_accel_fifo = accel_fifo;
  f->gyro_fifo = gyro_fifo;
  f->flags = flags;
  f->first_correction_pending = true;
  f->first_correction_counter = 1;
}

void m_imu_3dof_close(m_imu_3dof* f) {
  TRACKING_CHECK(f != NULL);
  m_ff_vec3_f32_destroy(&f->word_accel_fifo);
  m_ff_vec3_f32_destroy(&f->gyro_fifo);
}

void m_imu_3dof_update(m_imu_3dof* f, uint64_t timestamp_ns, const vec3* accel, const vec3* gyro,
                       float temperature) {
  TRACKING_CHECK(f != NULL);
  TRACKING_CHECK(accel != NULL);
  TRACKING_CHECK(gyro != NULL);
  (void)temperature;

  if (!f->has_first_sample) {
    f->has_first_sample = 1;
    f->last.timestamp_ns = timestamp_ns;
    return;
  }
  TRACKING_CHECK(timestamp_ns >= f->last.timestamp_ns);

  f->last.gyro = *gyro;
  f->last.accel = *accel;
  vec3 world_accel;
  math_quat_rotate_vec3(&f->orientation, accel, &world_accel);
  const double dt = static_cast<double>(timestamp_ns - f->last.timestamp_ns) / 1e9;
  f->last.delta_ms = dt * 1000.0;
  f->last.timestamp_ns = timestamp_ns;

  m_ff_vec3_f32_push(f->word_accel_fifo, &world_accel, timestamp_ns);
  m_ff_vec3_f32_push(f->gyro_fifo, gyro, timestamp_ns);

  const vec3 gyro_biased = m_vec3_sub(*gyro, f->gyro_bias);
  const float gyro_biased_length = m_vec3_len(gyro_biased);

  if (gyro_biased_length > kMinRate) {
    const vec3 axis = m_vec3_mul_scalar(gyro_biased, 1.0f / gyro_biased_length);
    const float angle = gyro_biased_length * static_cast<float>(dt);
    quat increment;
    math_quat_from_axis_angle(&axis, angle, &increment);
    const quat before = f->orientation;
    math_quat_rotate(&before, &increment, &f->orientation);
  }

  m_imu_3dof_gravity_correction(f, timestamp_ns, accel, &gyro_biased, dt, gyro_biased_length);
  math_quat_normalize(&f->orientation);
}

void m_imu_3dof_gravity_correction(m_imu_3dof* f, uint64_t timestamp_ns, const vec3* accel,
                                   const vec3* gyro_biased, double dt, float gyro_biased_length) {
  TRACKING_CHECK(f != NULL);
  TRACKING_CHECK(accel != NULL);
  TRACKING_CHECK(gyro_biased != NULL);
  (void)gyro_biased;

  // Without either window flag the filter is a pure gyro integrator; a pending
  // first correction does not override that.
  if ((f->flags & (M_IMU_3DOF_USE_GRAVITY_DUR_300MS | M_IMU_3DOF_USE_GRAVITY_DUR_60MS)) == 0) {
    return;
  }
  const uint64_t window =
      ((f->flags & M_IMU_3DOF_USE_GRAVITY_DUR_60MS) != 0 || f->first_correction_pending)
          ? kWindow60Ns
          : kWindow300Ns;

  f->grav.accel_off_gravity = std::fabs(m_vec3_len(*accel) - kGravityRest) >= kGravityTolerance;
  f->grav.gyro_moving = gyro_biased_length >= kGyroTolerance;
  if (f->grav.accel_off_gravity || f->grav.gyro_moving) {
    f->grav.last_ns = timestamp_ns;
  }

  if (f->grav.last_ns + window < timestamp_ns) {
    f->grav.last_ns = timestamp_ns;
    vec3 mean;
    const uint64_t start = timestamp_ns > window ? timestamp_ns - window : 0;
    m_ff_vec3_f32_filter(f->word_accel_fifo, start, timestamp_ns, &mean);
    if (m_vec3_len(mean) - kGravityMean < kGravityTolerance) {
      vec3 axis = m_vec3_normalize(vec3{mean.z, 0.0f, -mean.x});
      if (m_vec3_len(axis) < 0.5f) {
        // Gravity straight along -Y: every horizontal axis turns it to +Y,
        // and the cross product leaves none; take world X.
        axis = vec3{1.0f, 0.0f, 0.0f};
      }
      const float error = m_vec3_angle(vec3{0.0f, 1.0f, 0.0f}, mean);
      if (error > kTiltThreshold) {
        f->grav.error_angle = error;
        f->grav.axis = axis;
      }
    }
  }

  if (f->grav.error_angle > kTiltThreshold) {
    const float max_step = static_cast<float>(kPi * dt / 5.0);
    const float min_step = static_cast<float>(kPi * dt / 60.0);
    float step = std::clamp(0.5f * gyro_biased_length * max_step, min_step, max_step);
    step = -std::min(step, f->grav.error_angle);

    if (f->first_correction_pending) {
      f->first_correction_counter--;
      if (f->first_correction_counter == 0) {
        f->first_correction_pending = false;
      }
      step = -f->grav.error_angle;
      tracking_log("vandrel first correction! %d", static_cast<int>(f->first_correction_counter));
    }

    f->grav.error_angle += step;
    quat correction;
    math_quat_from_axis_angle(&f->grav.axis, step, &correction);
    const quat before = f->orientation;
    math_quat_rotate(&correction, &before, &f->orientation);
  }
}

}  // namespace vistrelle::tracking
