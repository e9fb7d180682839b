// QtDepthWindow: the AI-3D manager's window on Qt: an OrvexDepthWindow
// placed on the glasses' QScreen (found by its RandR output name, see
// screen_for_output.h) and made full screen there. Window managers decide
// where windows land; the manager looks again after each move.
//
//   manager environment: makeWindow = [](ai3d::KernelBackend& backend) {
//     return QtDepthWindow::make(backend);
//   };
#pragma once

#include <memory>

#include "ai3d/manager/depth_window.h"
#include "ui/orvex_depth_window.h"

namespace vistrelle::ui {

class QtDepthWindow final : public ai3d::DepthWindow {
 public:
  // Decides how the eyes are drawn (chooseStereoViewPath) and makes the
  // window. GUI thread.
  static std::unique_ptr<ai3d::DepthWindow> make(
      ai3d::KernelBackend& backend, StereoViewChoice choice = StereoViewChoice::Automatic);

  QtDepthWindow(ai3d::KernelBackend& backend, StereoViewPath path);
  ~QtDepthWindow() override;

  ai3d::EyeViewFactory& viewFactory() override { return window_->viewFactory(); }
  std::string drawingPath() const override { return window_->path().describe(); }
  void makeKeyAndOrderFront() override;
  bool isVisible() const override { return window_->isVisible(); }
  bool isOnScreen(const ai3d::GlassScreen& screen) const override;
  bool isFullScreen() const override { return window_->isFullScreen(); }
  void toggleFullScreen() override;
  void centreOnScreen(const ai3d::GlassScreen& screen) override;
  void close() override { window_->close(); }
  void setWillClose(std::function<void()> willClose) override {
    window_->setWillClose(std::move(willClose));
  }

  OrvexDepthWindow& window() { return *window_; }

 private:
  std::unique_ptr<OrvexDepthWindow> window_;
};

}  // namespace vistrelle::ui
