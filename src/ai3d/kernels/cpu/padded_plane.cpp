#include "ai3d/kernels/cpu/padded_plane.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace vistrelle::ai3d {

void PaddedPlane::fill(const CpuMap& source, int pad, ParallelRows& rows) {
  fill(source, pad, rows, false, 0.0f);
}

void PaddedPlane::fill(const CpuMap& source, int pad, ParallelRows& rows, float substitute) {
  fill(source, pad, rows, true, substitute);
}

void PaddedPlane::fillAbsDifference(const CpuMap& a, const CpuMap& b, int pad, ParallelRows& rows) {
  const int width = a.width();
  const int height = a.height();
  pad_ = pad;
  stride_ = static_cast<size_t>(width + 2 * pad);
  const size_t needed = stride_ * static_cast<size_t>(height + 2 * pad);
  if (values_.size() < needed) values_.resize(needed);
  float* base = values_.data();
  rows.run(height, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      float* out = base + static_cast<size_t>(y + pad) * stride_ + static_cast<size_t>(pad);
      const float* ra = a.row(y);
      const float* rb = b.row(y);
      for (int x = 0; x < width; ++x) {
        const float d = std::fabs(ra[x] - rb[x]);
        out[x] = d <= std::numeric_limits<float>::max() ? d : -1.0f;
      }
      std::fill(out - pad, out, out[0]);
      std::fill(out + width, out + width + pad, out[width - 1]);
    }
  });
  const float* first = base + static_cast<size_t>(pad) * stride_;
  const float* last = base + static_cast<size_t>(pad + height - 1) * stride_;
  for (int p = 0; p < pad; ++p) {
    std::memcpy(base + static_cast<size_t>(p) * stride_, first, sizeof(float) * stride_);
    std::memcpy(base + static_cast<size_t>(pad + height + p) * stride_, last,
                sizeof(float) * stride_);
  }
}

void PaddedPlane::fill(const CpuMap& source, int pad, ParallelRows& rows, bool replace,
                       float substitute) {
  const int width = source.width();
  const int height = source.height();
  pad_ = pad;
  stride_ = static_cast<size_t>(width + 2 * pad);
  const size_t needed = stride_ * static_cast<size_t>(height + 2 * pad);
  if (values_.size() < needed) values_.resize(needed);
  float* base = values_.data();
  rows.run(height, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      float* out = base + static_cast<size_t>(y + pad) * stride_;
      const float* in = source.row(y);
      std::memcpy(out + pad, in, sizeof(float) * static_cast<size_t>(width));
      if (replace) {
        for (int x = 0; x < width; ++x) {
          if (!std::isfinite(out[pad + x])) out[pad + x] = substitute;
        }
      }
      std::fill(out, out + pad, out[pad]);
      std::fill(out + pad + width, out + 2 * pad + width, out[pad + width - 1]);
    }
  });
  const float* first = base + static_cast<size_t>(pad) * stride_;
  const float* last = base + static_cast<size_t>(pad + height - 1) * stride_;
  for (int p = 0; p < pad; ++p) {
    std::memcpy(base + static_cast<size_t>(p) * stride_, first, sizeof(float) * stride_);
    std::memcpy(base + static_cast<size_t>(pad + height + p) * stride_, last,
                sizeof(float) * stride_);
  }
}

}  // namespace vistrelle::ai3d
