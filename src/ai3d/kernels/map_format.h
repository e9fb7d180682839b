// MapFormat: the pixel format a map or buffer carries. The kernels read
// Float16 and Float32 depth maps (Float32 is rounded to half on upload) and
// refuse every other format with a reason.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vistrelle::ai3d {

enum class MapFormat : uint8_t { Float16, Float32, Unorm8, Bgra8 };

constexpr size_t bytesPerPixel(MapFormat format) {
  switch (format) {
    case MapFormat::Float16:
      return 2;
    case MapFormat::Float32:
      return 4;
    case MapFormat::Unorm8:
      return 1;
    case MapFormat::Bgra8:
      return 4;
  }
  return 0;
}

constexpr const char* mapFormatName(MapFormat format) {
  switch (format) {
    case MapFormat::Float16:
      return "f16";
    case MapFormat::Float32:
      return "f32";
    case MapFormat::Unorm8:
      return "unorm8";
    case MapFormat::Bgra8:
      return "bgra8";
  }
  return "?";
}

constexpr bool isDepthFormat(MapFormat format) {
  return format == MapFormat::Float16 || format == MapFormat::Float32;
}

}  // namespace vistrelle::ai3d
