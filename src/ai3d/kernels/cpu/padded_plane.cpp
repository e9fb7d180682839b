#include "ai3d/kernels/cpu/padded_plane.h"

#include <algorithm>

namespace vistrelle::ai3d {

void PaddedPlane::reshape(int width, int height, int pad) {
  width_ = width;
  height_ = height;
  pad_ = pad;
  stride_ = static_cast<size_t>(width + 2 * pad);
  const size_t needed = kSlack + stride_ * static_cast<size_t>(height) + kSlack;
  if (values_.size() < needed) values_.resize(needed);
}

void PaddedPlane::padRow(int y) {
  float* r = row(y);
  std::fill(r - pad_, r, r[0]);
  std::fill(r + width_, r + width_ + pad_, r[width_ - 1]);
}

}  // namespace vistrelle::ai3d
