// DynamicFilterParams: the 16-byte block "dynamicDepthFilter" reads at
// binding 0, laid out byte for byte as the kernel expects.
#pragma once

#include <cstddef>

namespace vistrelle::ai3d {

struct DynamicFilterParams {
  float alpha;              // 0: base blend per 16 ms
  float eta;                // 4: change at which the blend is half-way to 1
  float sceneChangeThresh;  // 8: mean change above which the input passes as is
  float dt;                 // 12: ms since the previous frame
};

static_assert(sizeof(DynamicFilterParams) == 16);
static_assert(offsetof(DynamicFilterParams, alpha) == 0);
static_assert(offsetof(DynamicFilterParams, eta) == 4);
static_assert(offsetof(DynamicFilterParams, sceneChangeThresh) == 8);
static_assert(offsetof(DynamicFilterParams, dt) == 12);

}  // namespace vistrelle::ai3d
