#pragma once

#include <cstdint>
#include <vector>

#include "platform/display/display_change.h"
#include "platform/display/display_layout.h"
#include "platform/display/display_result.h"

namespace vistrelle::display {

struct CrtcConfig {
  uint32_t crtc = 0;
  uint32_t mode = 0;
  uint16_t rotation = DisplayCrtc::kRotate0;
  int x = 0;
  int y = 0;
  int width = 0;  // the area it covers with that mode and rotation
  int height = 0;
  std::vector<uint32_t> outputs;
  bool operator==(const CrtcConfig&) const = default;
};

// The CRTC settings a layout change comes to.
struct CrtcPlan {
  // The CRTCs that change, in the order to set them: a hardware mirror is
  // left before its output is given a CRTC of its own.
  std::vector<CrtcConfig> after;
  // Their settings now, in the same order (a failed change is undone with them).
  std::vector<CrtcConfig> before;
  // The bounding box of every active CRTC after the change.
  int width = 0;
  int height = 0;
};

// Every placed output must be on, and a new mode must be one of its own.  An
// output sharing its CRTC leaves it for a free CRTC it can use (Refused
// when there is none).
DisplayResult<CrtcPlan> planCrtcs(const DisplayLayout& layout, const LayoutChange& change);

}  // namespace vistrelle::display
