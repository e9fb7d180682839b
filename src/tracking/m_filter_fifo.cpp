#include "tracking/m_filter_fifo.h"

#include "tracking/tracking_check.h"

namespace vistrelle::tracking {
namespace {

template <typename Fifo, typename Sample>
void fifo_create(Fifo** out_ff, uint64_t num) {
  auto* ff = new Fifo;
  ff->num = num;
  ff->samples = std::make_unique<Sample[]>(num);
  ff->timestamps_ns = std::make_unique<uint64_t[]>(num);
  *out_ff = ff;
}

template <typename Fifo>
void fifo_destroy(Fifo** ff_ptr) {
  delete *ff_ptr;
  *ff_ptr = nullptr;
}

template <typename Fifo, typename Sample>
void fifo_push(Fifo* ff, const Sample& sample, uint64_t timestamp_ns) {
  ff->latest = ff->latest == 0 ? ff->num - 1 : ff->latest - 1;
  ff->samples[ff->latest] = sample;
  ff->timestamps_ns[ff->latest] = timestamp_ns;
  if (ff->filled < ff->num) {
    ff->filled++;
  }
}

template <typename Fifo, typename Sample>
bool fifo_get(Fifo* ff, size_t i, Sample* out_sample, uint64_t* out_timestamp_ns) {
  if (i >= ff->num) {
    return false;
  }
  const uint64_t pos = (ff->latest + i) % ff->num;
  *out_sample = ff->samples[pos];
  *out_timestamp_ns = ff->timestamps_ns[pos];
  return true;
}

// Walks newest to oldest, so the first sample before the window ends it.
template <typename Fifo, typename Accumulate>
size_t fifo_walk(Fifo* ff, uint64_t start_ns, uint64_t stop_ns, Accumulate accumulate) {
  size_t count = 0;
  if (start_ns > stop_ns) {
    return 0;
  }
  for (uint64_t i = 0; i < ff->filled; i++) {
    const uint64_t pos = (ff->latest + i) % ff->num;
    const uint64_t t = ff->timestamps_ns[pos];
    if (t > stop_ns) {
      continue;
    }
    if (t < start_ns) {
      break;
    }
    accumulate(ff->samples[pos]);
    count++;
  }
  return count;
}

}  // namespace

void m_ff_vec3_f32_create(m_ff_vec3_f32** out_ff, uint64_t num) {
  TRACKING_CHECK(out_ff != NULL);
  TRACKING_CHECK(num > 0);
  fifo_create<m_ff_vec3_f32, vec3>(out_ff, num);
}

void m_ff_vec3_f32_destroy(m_ff_vec3_f32** ff_ptr) {
  TRACKING_CHECK(ff_ptr != NULL);
  fifo_destroy(ff_ptr);
}

void m_ff_vec3_f32_push(m_ff_vec3_f32* ff, const vec3* sample, uint64_t timestamp_ns) {
  TRACKING_CHECK(ff != NULL);
  TRACKING_CHECK(sample != NULL);
  TRACKING_CHECK(ff->timestamps_ns[ff->latest] <= timestamp_ns);
  fifo_push(ff, *sample, timestamp_ns);
}

bool m_ff_vec3_f32_get(m_ff_vec3_f32* ff, size_t num, vec3* out_sample,
                       uint64_t* out_timestamp_ns) {
  TRACKING_CHECK(ff != NULL);
  TRACKING_CHECK(out_sample != NULL);
  TRACKING_CHECK(out_timestamp_ns != NULL);
  return fifo_get(ff, num, out_sample, out_timestamp_ns);
}

size_t m_ff_vec3_f32_filter(m_ff_vec3_f32* ff, uint64_t start_ns, uint64_t stop_ns,
                            vec3* out_average) {
  TRACKING_CHECK(ff != NULL);
  TRACKING_CHECK(out_average != NULL);
  double sum[3] = {0.0, 0.0, 0.0};
  const size_t count = fifo_walk(ff, start_ns, stop_ns, [&sum](const vec3& s) {
    sum[0] += s.x;
    sum[1] += s.y;
    sum[2] += s.z;
  });
  if (count == 0) {
    *out_average = vec3{0.0f, 0.0f, 0.0f};
    return 0;
  }
  const double n = static_cast<double>(count);
  *out_average = vec3{static_cast<float>(sum[0] / n), static_cast<float>(sum[1] / n),
                      static_cast<float>(sum[2] / n)};
  return count;
}

void m_ff_f64_create(m_ff_f64** out_ff, uint64_t num) {
  TRACKING_CHECK(out_ff != NULL);
  TRACKING_CHECK(num > 0);
  fifo_create<m_ff_f64, double>(out_ff, num);
}

void m_ff_f64_destroy(m_ff_f64** ff_ptr) {
  TRACKING_CHECK(ff_ptr != NULL);
  fifo_destroy(ff_ptr);
}

void m_ff_f64_push(m_ff_f64* ff, const double* sample, uint64_t timestamp_ns) {
  TRACKING_CHECK(ff != NULL);
  TRACKING_CHECK(sample != NULL);
  TRACKING_CHECK(ff->timestamps_ns[ff->latest] <= timestamp_ns);
  fifo_push(ff, *sample, timestamp_ns);
}

bool m_ff_f64_get(m_ff_f64* ff, size_t num, double* out_sample, uint64_t* out_timestamp_ns) {
  TRACKING_CHECK(ff != NULL);
  TRACKING_CHECK(out_sample != NULL);
  TRACKING_CHECK(out_timestamp_ns != NULL);
  return fifo_get(ff, num, out_sample, out_timestamp_ns);
}

size_t m_ff_f64_filter(m_ff_f64* ff, uint64_t start_ns, uint64_t stop_ns, double* out_average) {
  TRACKING_CHECK(ff != NULL);
  TRACKING_CHECK(out_average != NULL);
  double sum = 0.0;
  const size_t count = fifo_walk(ff, start_ns, stop_ns, [&sum](double s) { sum += s; });
  *out_average = count == 0 ? 0.0 : sum / static_cast<double>(count);
  return count;
}

}  // namespace vistrelle::tracking
