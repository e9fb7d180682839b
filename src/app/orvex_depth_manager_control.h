#pragma once

#include <memory>

#include "ai3d/manager/orvex_depth_custom_manager.h"
#include "app/depth_3d_filter_tuning.h"
#include "app/depth_manager_control.h"
#include "app/sleep_wake_window_seam.h"

namespace vistrelle {

// The process' AI-3D manager as the application holds it: the delegate's
// depthManager, the sleep observer's way to the 3D window and the settings
// panel's filter tuning.  Main queue.
class OrvexDepthManagerControl final : public DepthManagerControl, public SleepWakeWindowSeam {
 public:
  explicit OrvexDepthManagerControl(std::shared_ptr<ai3d::OrvexDepthCustomManager> manager);

  void open3DWindow() override { manager_->open3DWindow(); }
  // At exit the window's own close (after it leaves full screen) never
  // comes: the capture is stopped at once then.
  void close3DWindow() override;

  bool hasWindow() override { return manager_->depthWindow() != nullptr; }
  void stopCapture() override;
  void handleWake(bool isSleep) override { manager_->handleWake(isSleep); }

  // The 3D view's filter tuning; none when no kernel back-end could be made.
  FilterTuning* filterTuning() { return tuning_.get(); }

  const std::shared_ptr<ai3d::OrvexDepthCustomManager>& manager() const { return manager_; }

 private:
  std::shared_ptr<ai3d::OrvexDepthCustomManager> manager_;
  std::unique_ptr<Depth3DFilterTuning> tuning_;
};

}  // namespace vistrelle
