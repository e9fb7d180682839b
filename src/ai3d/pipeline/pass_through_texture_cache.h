// PassThroughTextureCache: for views that sample the captured frame's own
// memory, the frame is its texture.
#pragma once

#include "ai3d/pipeline/eye_view.h"

namespace vistrelle::ai3d {

class PassThroughTextureCache : public FrameTextureCache {
 public:
  capture::CaptureFramePtr wrap(const capture::CaptureFramePtr& frame) override { return frame; }
};

}  // namespace vistrelle::ai3d
