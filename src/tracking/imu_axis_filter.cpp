#include "tracking/imu_axis_filter.h"

#include <cstddef>

#include "tracking/tracking_check.h"

namespace vistrelle::tracking {

void imu_axis_filter_update(imu_axis_filter* filter, const vec3* in, uint64_t timestamp_ns) {
  TRACKING_CHECK(filter != NULL);
  TRACKING_CHECK(in != NULL);
  if (filter->last_ns != 0 && filter->last_ns < timestamp_ns) {
    const float dt = static_cast<float>(static_cast<double>(timestamp_ns - filter->last_ns) / 1e9);
    const float input[3] = {in->x, in->y, in->z};
    const float offset[3] = {filter->offset.x, filter->offset.y, filter->offset.z};
    for (int i = 0; i < 3; i++) {
      const float old = filter->value[i];
      filter->value[i] = filter->a * input[i] + (1.0f - filter->a) * (old + offset[i]);
      filter->rate[i] = (filter->value[i] - old) / dt * filter->gain;
    }
  }
  filter->last_ns = timestamp_ns;
}

void imu_axis_filter_reset(imu_axis_filter* filter) {
  TRACKING_CHECK(filter != NULL);
  filter->last_ns = 0;
  for (int i = 0; i < 3; i++) {
    filter->value[i] = 0.0f;
    filter->rate[i] = 0.0f;
    filter->counters[i] = 0;
  }
  filter->spare = vec3{0.0f, 0.0f, 0.0f};
  filter->offset = vec3{0.0f, 0.0f, 0.0f};
}

}  // namespace vistrelle::tracking
