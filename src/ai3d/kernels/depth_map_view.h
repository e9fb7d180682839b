// DepthMapView: a borrowed single-channel map (e.g. the depth model's output
// buffer) with its size, row pitch and format. Rows run top to bottom.
//
//   DepthMapView view{buffer, 518, 294, 518 * sizeof(float), MapFormat::Float32};
//   filter.apply(view, alpha, eta, thresh);
#pragma once

#include <cstddef>

#include "ai3d/kernels/map_format.h"

namespace vistrelle::ai3d {

struct DepthMapView {
  const void* data = nullptr;
  int width = 0;
  int height = 0;
  size_t rowBytes = 0;  // 0 means tightly packed
  MapFormat format = MapFormat::Float16;

  size_t pitch() const {
    return rowBytes != 0 ? rowBytes : static_cast<size_t>(width) * bytesPerPixel(format);
  }
  const void* row(int y) const {
    return static_cast<const char*>(data) + pitch() * static_cast<size_t>(y);
  }
};

}  // namespace vistrelle::ai3d
