#include "ai3d/kernels/eye_viewport.h"

#include <algorithm>

namespace vistrelle::ai3d {

EyeViewport fitEyeViewport(float textureWidth, float textureHeight, float drawableWidth,
                           float drawableHeight) {
  if (textureWidth <= 0 || textureHeight <= 0) return {};
  // In double, as the display maths of the views is done: 2880 x 1800 in
  // 1920 x 1080 then lands on x = 96 exactly instead of 95.99994.
  const double scale =
      std::min(double(drawableWidth) / textureWidth, double(drawableHeight) / textureHeight);
  const double width = scale * textureWidth;
  const double height = scale * textureHeight;
  return {float((drawableWidth - width) / 2.0), float((drawableHeight - height) / 2.0),
          float(width), float(height)};
}

}  // namespace vistrelle::ai3d
