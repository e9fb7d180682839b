#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "tracking/m_base.h"

namespace vistrelle::tracking {

// The most recent `num` timestamped samples in a fixed ring, written
// backwards: the newest sits at `latest`, the i-th newest at
// (latest + i) mod num.  `filled` counts the slots written so far, so that a
// partly filled ring never averages its untouched zero slots.
struct m_ff_vec3_f32 {
  uint64_t num = 0;
  uint64_t latest = 0;
  uint64_t filled = 0;
  std::unique_ptr<vec3[]> samples;
  std::unique_ptr<uint64_t[]> timestamps_ns;
};

struct m_ff_f64 {
  uint64_t num = 0;
  uint64_t latest = 0;
  uint64_t filled = 0;
  std::unique_ptr<double[]> samples;
  std::unique_ptr<uint64_t[]> timestamps_ns;
};

// Creates a ring of num samples, all zero with time 0.
void m_ff_vec3_f32_create(m_ff_vec3_f32** out_ff, uint64_t num);
// Frees the ring and clears the caller's pointer; a null ring is left alone.
void m_ff_vec3_f32_destroy(m_ff_vec3_f32** ff_ptr);
// The time must not be earlier than the newest sample's.
void m_ff_vec3_f32_push(m_ff_vec3_f32* ff, const vec3* sample, uint64_t timestamp_ns);
// The i-th newest slot; false when i is beyond the ring.  A slot never written
// reads as zero with time 0.
bool m_ff_vec3_f32_get(m_ff_vec3_f32* ff, size_t num, vec3* out_sample, uint64_t* out_timestamp_ns);
// Mean of the written samples whose times lie in [start_ns, stop_ns]; the
// count is returned and the mean is zero when it is 0.
size_t m_ff_vec3_f32_filter(m_ff_vec3_f32* ff, uint64_t start_ns, uint64_t stop_ns,
                            vec3* out_average);

void m_ff_f64_create(m_ff_f64** out_ff, uint64_t num);
void m_ff_f64_destroy(m_ff_f64** ff_ptr);
void m_ff_f64_push(m_ff_f64* ff, const double* sample, uint64_t timestamp_ns);
bool m_ff_f64_get(m_ff_f64* ff, size_t num, double* out_sample, uint64_t* out_timestamp_ns);
size_t m_ff_f64_filter(m_ff_f64* ff, uint64_t start_ns, uint64_t stop_ns, double* out_average);

}  // namespace vistrelle::tracking
