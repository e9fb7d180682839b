// PaddedPlane: an f32 copy of a map with `pad` replicated pixels on every
// side, so that neighbourhood loops read clamped coordinates without
// clamping. Storage is kept between uses and only grows.
#pragma once

#include <vector>

#include "ai3d/kernels/cpu/cpu_map.h"
#include "ai3d/kernels/cpu/parallel_rows.h"

namespace vistrelle::ai3d {

class PaddedPlane {
 public:
  void fill(const CpuMap& source, int pad, ParallelRows& rows);
  // |a - b| of two maps of one size, with -1 where the difference is not
  // finite.
  void fillAbsDifference(const CpuMap& a, const CpuMap& b, int pad, ParallelRows& rows);
  // The same, with every non-finite value replaced by substitute.
  void fill(const CpuMap& source, int pad, ParallelRows& rows, float substitute);
  // Row y of the source (-pad <= y < height + pad), pointing at column 0.
  const float* row(int y) const {
    return values_.data() + static_cast<size_t>(y + pad_) * stride_ + static_cast<size_t>(pad_);
  }

 private:
  void fill(const CpuMap& source, int pad, ParallelRows& rows, bool replace, float substitute);

  std::vector<float> values_;
  size_t stride_ = 0;
  int pad_ = 0;
};

}  // namespace vistrelle::ai3d
