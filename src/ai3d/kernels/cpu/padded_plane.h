// PaddedPlane: an f32 plane whose rows carry `pad` extra columns on each side
// (filled by padRow with the row's edge values, so that neighbourhood loops
// read clamped columns without clamping) and slack before the first row and
// after the last for whole-vector reads a little past either end. Rows are
// clamped by the callers. Storage is kept between uses and only grows.
#pragma once

#include <cstddef>
#include <vector>

namespace vistrelle::ai3d {

class PaddedPlane {
 public:
  void reshape(int width, int height, int pad);

  // Row y (0 <= y < height), pointing at column 0; columns -pad to
  // width + pad - 1 may be read.
  float* row(int y) {
    return values_.data() + kSlack + static_cast<size_t>(y) * stride_ + static_cast<size_t>(pad_);
  }
  const float* row(int y) const {
    return values_.data() + kSlack + static_cast<size_t>(y) * stride_ + static_cast<size_t>(pad_);
  }
  // Row y clamped into the plane.
  const float* clampedRow(int y) const { return row(y < 0 ? 0 : (y >= height_ ? height_ - 1 : y)); }
  // Copies the row's first and last values into its padding.
  void padRow(int y);

  int width() const { return width_; }
  int height() const { return height_; }
  size_t stride() const { return stride_; }

  // Floats readable before row 0's padding and after the last row's.
  static constexpr size_t kSlack = 16;

 private:
  std::vector<float> values_;
  size_t stride_ = 0;
  int width_ = 0;
  int height_ = 0;
  int pad_ = 0;
};

}  // namespace vistrelle::ai3d
