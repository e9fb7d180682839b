#include "ai3d/kernels/depth_map.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "ai3d/kernels/half_float.h"

namespace vistrelle::ai3d {

DepthMap::DepthMap(int width, int height, MapFormat format)
    : width_(width), height_(height), format_(format) {
  if (width < 0 || height < 0) throw std::invalid_argument("negative map size");
  bytes_.resize(pixelCount() * bytesPerPixel(format));
}

DepthMapView DepthMap::view() const {
  return {bytes_.data(), width_, height_, static_cast<size_t>(width_) * bytesPerPixel(format_),
          format_};
}

namespace {
void expect(MapFormat have, MapFormat want) {
  if (have != want) {
    throw std::logic_error(std::string("map holds ") + mapFormatName(have) + ", not " +
                           mapFormatName(want));
  }
}
}  // namespace

std::span<uint16_t> DepthMap::halves() {
  expect(format_, MapFormat::Float16);
  return {reinterpret_cast<uint16_t*>(bytes_.data()), pixelCount()};
}
std::span<const uint16_t> DepthMap::halves() const {
  expect(format_, MapFormat::Float16);
  return {reinterpret_cast<const uint16_t*>(bytes_.data()), pixelCount()};
}
std::span<float> DepthMap::floats() {
  expect(format_, MapFormat::Float32);
  return {reinterpret_cast<float*>(bytes_.data()), pixelCount()};
}
std::span<const float> DepthMap::floats() const {
  expect(format_, MapFormat::Float32);
  return {reinterpret_cast<const float*>(bytes_.data()), pixelCount()};
}

float DepthMap::at(int x, int y) const {
  const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x);
  switch (format_) {
    case MapFormat::Float16:
      return halfToFloat(halves()[i]);
    case MapFormat::Float32:
      return floats()[i];
    default:
      throw std::logic_error(std::string("map of format ") + mapFormatName(format_) +
                             " holds no depth values");
  }
}

}  // namespace vistrelle::ai3d
