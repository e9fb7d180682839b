#include "tracking/m_filter_euro.h"

#include <cmath>
#include <cstddef>

#include "tracking/m_quatexpmap.h"
#include "tracking/tracking_check.h"

namespace vistrelle::tracking {

void filter_euro_init(m_filter_euro* f, double fc_min, double fc_min_d, double beta) {
  TRACKING_CHECK(f != NULL);
  *f = m_filter_euro{};
  f->fc_min = static_cast<float>(fc_min);
  f->fc_min_d = static_cast<float>(fc_min_d);
  f->beta = static_cast<float>(beta);
  f->have_prev = false;
}

bool filter_euro_handle_first_sample(m_filter_euro* f, uint64_t ts, bool commit) {
  if (f->have_prev) {
    return false;
  }
  if (commit) {
    f->prev_ts = ts;
    f->have_prev = true;
  }
  return true;
}

bool filter_euro_time_advanced(const m_filter_euro* f, uint64_t ts) {
  return ts > f->prev_ts;
}

double filter_euro_compute_alpha_d(m_filter_euro* f, uint64_t ts, double* out_dt, bool commit) {
  *out_dt = static_cast<double>(ts - f->prev_ts) / 1e9;
  if (commit) {
    f->prev_ts = ts;
  }
  return calc_smoothing_alpha(f->fc_min_d, *out_dt);
}

double filter_euro_compute_alpha(const m_filter_euro* f, double dt, double abs_dy) {
  return calc_smoothing_alpha(f->fc_min + f->beta * abs_dy, dt);
}

double calc_smoothing_alpha(double fc, double dt) {
  const double r = 6.283185307179586 * fc * dt;
  return r / (r + 1.0);
}

double exp_smooth_f32(double alpha, double y, double prev_y) {
  return alpha * y + (1.0 - alpha) * prev_y;
}

vec2 vec2_add(vec2 a, vec2 b) {
  return vec2{a.x + b.x, a.y + b.y};
}
vec2 vec2_sub(vec2 a, vec2 b) {
  return vec2{a.x - b.x, a.y - b.y};
}
vec2 vec2_mul_scalar(vec2 v, float s) {
  return vec2{v.x * s, v.y * s};
}
vec2 vec2_div_scalar(vec2 v, float s) {
  return vec2{v.x / s, v.y / s};
}
float vec2_length(vec2 v) {
  return std::sqrt(vec2_length_sqrd(v));
}
float vec2_length_sqrd(vec2 v) {
  return v.x * v.x + v.y * v.y;
}

vec2 vec2_lerp(float alpha, vec2 y, vec2 prev_y) {
  return vec2{alpha * y.x + (1.0f - alpha) * prev_y.x, alpha * y.y + (1.0f - alpha) * prev_y.y};
}

vec3 vec3_div_scalar(vec3 v, float s) {
  return vec3{v.x / s, v.y / s, v.z / s};
}

vec3 vec3_lerp(float alpha, vec3 y, vec3 prev_y) {
  return vec3{alpha * y.x + (1.0f - alpha) * prev_y.x, alpha * y.y + (1.0f - alpha) * prev_y.y,
              alpha * y.z + (1.0f - alpha) * prev_y.z};
}

quat quat_slerp_value(const quat& from, const quat& to, float t) {
  quat result;
  math_quat_slerp(&from, &to, t, &result);
  return result;
}

void filter_euro_f32_init(m_filter_euro_f32* f, double fc_min, double fc_min_d, double beta) {
  TRACKING_CHECK(f != NULL);
  *f = m_filter_euro_f32{};
  filter_euro_init(&f->base, fc_min, fc_min_d, beta);
}

void filter_euro_vec2_init(m_filter_euro_vec2* f, double fc_min, double fc_min_d, double beta) {
  TRACKING_CHECK(f != NULL);
  *f = m_filter_euro_vec2{};
  filter_euro_init(&f->base, fc_min, fc_min_d, beta);
}

void filter_euro_vec3_init(m_filter_euro_vec3* f, double fc_min, double fc_min_d, double beta) {
  TRACKING_CHECK(f != NULL);
  *f = m_filter_euro_vec3{};
  filter_euro_init(&f->base, fc_min, fc_min_d, beta);
}

void filter_euro_quat_init(m_filter_euro_quat* f, double fc_min, double fc_min_d, double beta) {
  TRACKING_CHECK(f != NULL);
  *f = m_filter_euro_quat{};
  filter_euro_init(&f->base, fc_min, fc_min_d, beta);
  f->prev_y = quat{0.0f, 0.0f, 0.0f, 1.0f};
  f->prev_dy = quat{0.0f, 0.0f, 0.0f, 1.0f};
}

void filter_euro_f32_run(m_filter_euro_f32* f, uint64_t ts, const float* in_y, float* out_y) {
  TRACKING_CHECK(f != NULL);
  TRACKING_CHECK(in_y != NULL);
  TRACKING_CHECK(out_y != NULL);
  if (filter_euro_handle_first_sample(&f->base, ts, true)) {
    f->prev_dy = 0.0;
    f->prev_y = *in_y;
    *out_y = *in_y;
    return;
  }
  if (!filter_euro_time_advanced(&f->base, ts)) {
    *out_y = static_cast<float>(f->prev_y);
    return;
  }
  double dt = 0.0;
  const double alpha_d = filter_euro_compute_alpha_d(&f->base, ts, &dt, true);
  const double dy = (*in_y - f->prev_y) / dt;
  f->prev_dy = exp_smooth_f32(alpha_d, dy, f->prev_dy);
  const double alpha = filter_euro_compute_alpha(&f->base, dt, std::fabs(f->prev_dy));
  f->prev_y = exp_smooth_f32(alpha, *in_y, f->prev_y);
  *out_y = static_cast<float>(f->prev_y);
}

namespace {

// One vec2 step; stores the new state only when committing.
void vec2_step(m_filter_euro_vec2* f, uint64_t ts, const vec2& in_y, vec2* out_y, bool commit) {
  double dt = 0.0;
  const float alpha_d = static_cast<float>(filter_euro_compute_alpha_d(&f->base, ts, &dt, commit));
  const vec2 dy = vec2_div_scalar(vec2_sub(in_y, f->prev_y), static_cast<float>(dt));
  const vec2 smoothed_dy = vec2_lerp(alpha_d, dy, f->prev_dy);
  const float alpha =
      static_cast<float>(filter_euro_compute_alpha(&f->base, dt, vec2_length(smoothed_dy)));
  const vec2 y = vec2_lerp(alpha, in_y, f->prev_y);
  if (commit) {
    f->prev_dy = smoothed_dy;
    f->prev_y = y;
  }
  *out_y = y;
}

}  // namespace

void filter_euro_vec2_run(m_filter_euro_vec2* f, uint64_t ts, const vec2* in_y, vec2* out_y) {
  TRACKING_CHECK(f != NULL);
  TRACKING_CHECK(in_y != NULL);
  TRACKING_CHECK(out_y != NULL);
  if (filter_euro_handle_first_sample(&f->base, ts, true)) {
    f->prev_dy = vec2{0.0f, 0.0f};
    f->prev_y = *in_y;
    *out_y = *in_y;
    return;
  }
  if (!filter_euro_time_advanced(&f->base, ts)) {
    *out_y = f->prev_y;
    return;
  }
  vec2_step(f, ts, *in_y, out_y, true);
}

void filter_euro_vec2_run_no_commit(m_filter_euro_vec2* f, uint64_t ts, const vec2* in_y,
                                    vec2* out_y) {
  TRACKING_CHECK(f != NULL);
  TRACKING_CHECK(in_y != NULL);
  TRACKING_CHECK(out_y != NULL);
  if (filter_euro_handle_first_sample(&f->base, ts, false)) {
    return;
  }
  if (!filter_euro_time_advanced(&f->base, ts)) {
    *out_y = f->prev_y;
    return;
  }
  vec2_step(f, ts, *in_y, out_y, false);
}

void filter_euro_vec3_run(m_filter_euro_vec3* f, uint64_t ts, const vec3* in_y, vec3* out_y) {
  TRACKING_CHECK(f != NULL);
  TRACKING_CHECK(in_y != NULL);
  TRACKING_CHECK(out_y != NULL);
  if (filter_euro_handle_first_sample(&f->base, ts, true)) {
    f->prev_dy = vec3{0.0f, 0.0f, 0.0f};
    f->prev_y = *in_y;
    *out_y = *in_y;
    return;
  }
  if (!filter_euro_time_advanced(&f->base, ts)) {
    *out_y = f->prev_y;
    return;
  }
  double dt = 0.0;
  const float alpha_d = static_cast<float>(filter_euro_compute_alpha_d(&f->base, ts, &dt, true));
  vec3 dy = *in_y;
  math_vec3_subtract(&f->prev_y, &dy);
  dy = vec3_div_scalar(dy, static_cast<float>(dt));
  f->prev_dy = vec3_lerp(alpha_d, dy, f->prev_dy);
  const float alpha = static_cast<float>(
      filter_euro_compute_alpha(&f->base, dt, map_vec3_const(f->prev_dy).norm()));
  f->prev_y = vec3_lerp(alpha, *in_y, f->prev_y);
  *out_y = f->prev_y;
}

void filter_euro_quat_run(m_filter_euro_quat* f, uint64_t ts, const quat* in_y, quat* out_y) {
  TRACKING_CHECK(f != NULL);
  TRACKING_CHECK(in_y != NULL);
  TRACKING_CHECK(out_y != NULL);
  if (filter_euro_handle_first_sample(&f->base, ts, true)) {
    f->prev_dy = quat{0.0f, 0.0f, 0.0f, 1.0f};
    f->prev_y = *in_y;
    *out_y = *in_y;
    return;
  }
  if (!filter_euro_time_advanced(&f->base, ts)) {
    *out_y = f->prev_y;
    return;
  }
  double dt = 0.0;
  filter_euro_compute_alpha_d(&f->base, ts, &dt, true);
  quat delta;
  math_quat_unrotate(&f->prev_y, in_y, &delta);
  vec3 dy;
  math_quat_ln(&delta, &dy);
  const double abs_dy = static_cast<double>(map_vec3_const(dy).norm()) / dt;
  const float alpha = static_cast<float>(filter_euro_compute_alpha(&f->base, dt, abs_dy));
  f->prev_y = quat_slerp_value(f->prev_y, *in_y, alpha);
  *out_y = f->prev_y;
}

}  // namespace vistrelle::tracking
