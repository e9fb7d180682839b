#include "app/orvex_depth_manager_control.h"

namespace vistrelle {

OrvexDepthManagerControl::OrvexDepthManagerControl(
    std::shared_ptr<ai3d::OrvexDepthCustomManager> manager)
    : manager_(std::move(manager)) {
  if (ai3d::OrvexDepth3DViewController* controller = manager_->deopth3DViewController()) {
    tuning_ = std::make_unique<Depth3DFilterTuning>(*controller);
  }
}

void OrvexDepthManagerControl::close3DWindow() {
  manager_->close3DWindow();
  if (MainState::shared().isExit.load()) stopCapture();
}

void OrvexDepthManagerControl::stopCapture() {
  if (ai3d::OrvexDepth3DViewController* controller = manager_->deopth3DViewController()) {
    controller->stopCapture();
  }
}

}  // namespace vistrelle
