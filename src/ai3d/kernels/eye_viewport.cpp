#include "ai3d/kernels/eye_viewport.h"

#include <algorithm>

namespace vistrelle::ai3d {

EyeViewport fitEyeViewport(float textureWidth, float textureHeight, float drawableWidth,
                           float drawableHeight) {
  if (textureWidth <= 0 || textureHeight <= 0) return {};
  const float scale = std::min(drawableWidth / textureWidth, drawableHeight / textureHeight);
  const float width = scale * textureWidth;
  const float height = scale * textureHeight;
  return {(drawableWidth - width) / 2.0f, (drawableHeight - height) / 2.0f, width, height};
}

}  // namespace vistrelle::ai3d
