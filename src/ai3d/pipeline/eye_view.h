// The two eye views as the pipeline sees them: each shows the captured frame
// shifted by its eye's map.  The on-screen widgets implement these; the
// headless CompositorEyeView draws with the CPU or GL compositor.
//
//   view->setTextures(frameTexture, leftMap, rightMap);
//   view->setDepthValue(0.01f);
//   view->draw();      // left eye with -depthValue, right eye with +depthValue
#pragma once

#include <memory>
#include <string>

#include "ai3d/kernels/kernel_map.h"
#include "platform/capture/capture_frame.h"

namespace vistrelle::ai3d {

class EyeView {
 public:
  virtual ~EyeView() = default;
  virtual bool isRightEye() const = 0;
  virtual void setTextures(capture::CaptureFramePtr bgraTexture,
                           std::shared_ptr<const KernelMap> depthLeftTexture,
                           std::shared_ptr<const KernelMap> depthRightTexture) = 0;
  virtual void setDepthValue(float depthValue) = 0;
  virtual void draw() = 0;
};

// Wraps a captured frame as a texture the views can sample; null when the
// frame cannot be wrapped (the frame is then dropped).
class FrameTextureCache {
 public:
  virtual ~FrameTextureCache() = default;
  virtual capture::CaptureFramePtr wrap(const capture::CaptureFramePtr& frame) = 0;
  // An eye map as the views take it, called on the frame's worker thread
  // inside its back-end batch: views drawing in a GL context of their own
  // take a copy read out of the back-end here, off the GUI thread. Null
  // drops the frame. By default the map itself.
  virtual std::shared_ptr<const KernelMap> wrapMap(std::shared_ptr<const KernelMap> map) {
    return map;
  }
};

class EyeViewFactory {
 public:
  virtual ~EyeViewFactory() = default;
  virtual std::shared_ptr<EyeView> makeView(bool isRightEye) = 0;
  // Null with the reason when no texture cache can be made.
  virtual std::unique_ptr<FrameTextureCache> makeTextureCache(std::string* reason) = 0;
};

}  // namespace vistrelle::ai3d
