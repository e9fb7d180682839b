// Eye-view drawing math shared by both back-ends: the aspect-fit viewport of
// the captured frame inside one eye's drawable, the full-view quad, and the
// description of one eye's draw.
//
//   EyeViewport vp = fitEyeViewport(3840, 1080, 1920, 1080);  // (0, 270) 1920 x 540
#pragma once

#include <array>

namespace vistrelle::ai3d {

// Origin measured from the drawable's top-left corner, in pixels; may be
// fractional. As GL rasterises with rows counted from the bottom, a pixel
// whose centre (cx, cy), top-down, has x <= cx < x + width and
// y < cy <= y + height is drawn.
struct EyeViewport {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
};

EyeViewport fitEyeViewport(float textureWidth, float textureHeight, float drawableWidth,
                           float drawableHeight);

// Triangle strip of 4 vertices, each x, y, u, v (v = 0 is the frame's top row).
inline constexpr std::array<float, 16> kEyeQuadVertices = {
    -1.0f, -1.0f, 0.0f, 1.0f,  //
    1.0f,  -1.0f, 1.0f, 1.0f,  //
    -1.0f, 1.0f,  0.0f, 0.0f,  //
    1.0f,  1.0f,  1.0f, 0.0f,
};
static_assert(sizeof(kEyeQuadVertices) == 64);

// One eye: the drawable is the rectangle (x, y, width, height) of the target,
// top-left origin; signedDepth is -depthValue for the left eye, +depthValue
// for the right.
struct EyeDraw {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  float signedDepth = 0;
};

}  // namespace vistrelle::ai3d
