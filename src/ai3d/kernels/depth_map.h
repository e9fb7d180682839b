// DepthMap: an owned, tightly packed single-channel map of a given size and
// format, e.g. a read-back of a kernel output or a test fixture.
//
//   DepthMap map(518, 294, MapFormat::Float16);
//   backend.read(*smoothed, map.halves());
//   filter.apply(map.view(), ...);
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ai3d/kernels/depth_map_view.h"

namespace vistrelle::ai3d {

class DepthMap {
 public:
  DepthMap() = default;
  DepthMap(int width, int height, MapFormat format);

  int width() const { return width_; }
  int height() const { return height_; }
  MapFormat format() const { return format_; }
  size_t pixelCount() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }

  DepthMapView view() const;
  void* data() { return bytes_.data(); }
  const void* data() const { return bytes_.data(); }

  // Typed access; throws std::logic_error when the format differs.
  std::span<uint16_t> halves();
  std::span<const uint16_t> halves() const;
  std::span<float> floats();
  std::span<const float> floats() const;

  // Value at (x, y) as float, whatever the depth format.
  float at(int x, int y) const;

 private:
  int width_ = 0;
  int height_ = 0;
  MapFormat format_ = MapFormat::Float16;
  std::vector<uint8_t> bytes_;
};

}  // namespace vistrelle::ai3d
