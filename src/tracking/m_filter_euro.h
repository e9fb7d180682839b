#pragma once

#include <cstdint>

#include "tracking/m_base.h"

namespace vistrelle::tracking {

// One Euro filter: an adaptive low-pass whose cut-off rises with the rate of
// change, so slow motion is smoothed hard and fast motion follows closely.
struct m_filter_euro {
  float fc_min;    // minimum cut-off of the value, Hz
  float fc_min_d;  // cut-off of the rate, Hz
  float beta;      // how much the rate raises the cut-off
  bool have_prev;
  uint64_t prev_ts;  // ns
};

struct m_filter_euro_f32 {
  m_filter_euro base;
  double prev_y;
  double prev_dy;
};

struct m_filter_euro_vec2 {
  m_filter_euro base;
  vec2 prev_y;
  vec2 prev_dy;
};

struct m_filter_euro_vec3 {
  m_filter_euro base;
  vec3 prev_y;
  vec3 prev_dy;
};

struct m_filter_euro_quat {
  m_filter_euro base;
  quat prev_y;
  quat prev_dy;
};

// Common parts.
void filter_euro_init(m_filter_euro* f, double fc_min, double fc_min_d, double beta);
// True for the first sample (and, when committing, records its time).
bool filter_euro_handle_first_sample(m_filter_euro* f, uint64_t ts, bool commit);
// True when ts lies after the previous sample; a repeated or earlier time has
// no usable dt, and such a sample leaves the filter as it was.
bool filter_euro_time_advanced(const m_filter_euro* f, uint64_t ts);
double filter_euro_compute_alpha_d(m_filter_euro* f, uint64_t ts, double* out_dt, bool commit);
double filter_euro_compute_alpha(const m_filter_euro* f, double dt, double abs_dy);
double calc_smoothing_alpha(double fc, double dt);
double exp_smooth_f32(double alpha, double y, double prev_y);

// Vector helpers.
vec2 vec2_add(vec2 a, vec2 b);
vec2 vec2_sub(vec2 a, vec2 b);
vec2 vec2_mul_scalar(vec2 v, float s);
vec2 vec2_div_scalar(vec2 v, float s);
float vec2_length(vec2 v);
float vec2_length_sqrd(vec2 v);
vec2 vec2_lerp(float alpha, vec2 y, vec2 prev_y);
vec3 vec3_div_scalar(vec3 v, float s);
vec3 vec3_lerp(float alpha, vec3 y, vec3 prev_y);
quat quat_slerp_value(const quat& from, const quat& to, float t);

void filter_euro_f32_init(m_filter_euro_f32* f, double fc_min, double fc_min_d, double beta);
void filter_euro_vec2_init(m_filter_euro_vec2* f, double fc_min, double fc_min_d, double beta);
void filter_euro_vec3_init(m_filter_euro_vec3* f, double fc_min, double fc_min_d, double beta);
void filter_euro_quat_init(m_filter_euro_quat* f, double fc_min, double fc_min_d, double beta);

// Each run writes the filtered value; a sample whose time does not advance
// yields the previous output and changes nothing.
void filter_euro_f32_run(m_filter_euro_f32* f, uint64_t ts, const float* in_y, float* out_y);
void filter_euro_vec2_run(m_filter_euro_vec2* f, uint64_t ts, const vec2* in_y, vec2* out_y);
// As filter_euro_vec2_run without storing anything; writes nothing for a
// first sample.
void filter_euro_vec2_run_no_commit(m_filter_euro_vec2* f, uint64_t ts, const vec2* in_y,
                                    vec2* out_y);
void filter_euro_vec3_run(m_filter_euro_vec3* f, uint64_t ts, const vec3* in_y, vec3* out_y);
void filter_euro_quat_run(m_filter_euro_quat* f, uint64_t ts, const quat* in_y, quat* out_y);

}  // namespace vistrelle::tracking
