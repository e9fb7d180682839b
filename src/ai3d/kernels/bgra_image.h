// BgraImage views: borrowed 8-bit BGRA images (B at byte 0, A at byte 3),
// rows top to bottom. The captured frame comes in as a BgraImageView; the
// eye views draw into a MutableBgraImageView.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vistrelle::ai3d {

struct BgraImageView {
  const uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  size_t rowBytes = 0;  // 0 means width * 4

  size_t pitch() const { return rowBytes != 0 ? rowBytes : static_cast<size_t>(width) * 4; }
  const uint8_t* row(int y) const { return data + pitch() * static_cast<size_t>(y); }
};

struct MutableBgraImageView {
  uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  size_t rowBytes = 0;  // 0 means width * 4

  size_t pitch() const { return rowBytes != 0 ? rowBytes : static_cast<size_t>(width) * 4; }
  uint8_t* row(int y) const { return data + pitch() * static_cast<size_t>(y); }
  BgraImageView view() const { return {data, width, height, rowBytes}; }
};

}  // namespace vistrelle::ai3d
