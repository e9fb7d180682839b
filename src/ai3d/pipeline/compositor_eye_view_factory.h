// CompositorEyeViewFactory: makes CompositorEyeViews over one side-by-side
// canvas (each eye's drawable half the glasses' 3840 x 1080 by default) on
// one kernel back-end, with a texture cache that passes captured frames
// through as they are. The canvas lives as long as the factory (the
// window); a view lives as long as whoever holds it: the factory keeps none.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/pipeline/compositor_eye_view.h"
#include "ai3d/pipeline/eye_view.h"
#include "ai3d/pipeline/side_by_side_canvas.h"

namespace vistrelle::ai3d {

class CompositorEyeViewFactory : public EyeViewFactory {
 public:
  explicit CompositorEyeViewFactory(KernelBackend& backend, int eyeWidth = 1920,
                                    int eyeHeight = 1080);

  std::shared_ptr<EyeView> makeView(bool isRightEye) override;
  std::unique_ptr<FrameTextureCache> makeTextureCache(std::string* reason) override;

  // The views made so far that someone still holds, oldest first.
  std::vector<std::shared_ptr<CompositorEyeView>> views() const;
  int viewsMade() const { return made_; }
  SideBySideCanvas& canvas() { return *canvas_; }
  // Makes the next makeTextureCache fail with this reason.
  void failTextureCache(std::string reason) { failure_ = std::move(reason); }

 private:
  std::shared_ptr<SideBySideCanvas> canvas_;
  std::string failure_;
  std::vector<std::weak_ptr<CompositorEyeView>> views_;
  int made_ = 0;
};

}  // namespace vistrelle::ai3d
