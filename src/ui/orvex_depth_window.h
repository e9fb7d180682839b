// OrvexDepthWindow: the 3D window, a top-level window whose whole content
// is the glasses' side-by-side picture: an OpenGL surface or the raster
// fallback (see stereo_view_path.h), with the eye-view factory that draws
// on it. Closing it (the close button, the window manager, close()) only
// hides it and runs the close hook; it is shown again on the next open.
// GUI thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/pipeline/eye_view.h"
#include "platform/dispatch/clock.h"
#include "ui/stereo_view_path.h"

class QCloseEvent;

namespace vistrelle::ui {

class StereoGlSurface;
class StereoRasterSurface;
class RasterEyeViewFactory;

class OrvexDepthWindow : public QWidget {
  Q_OBJECT

 public:
  OrvexDepthWindow(ai3d::KernelBackend& backend, StereoViewPath path);
  ~OrvexDepthWindow() override;

  ai3d::EyeViewFactory& viewFactory() { return *factory_; }
  const StereoViewPath& path() const { return path_; }
  void setWillClose(std::function<void()> willClose) { willClose_ = std::move(willClose); }

  // Frames shown so far, and a hook after each with its capture time.
  uint64_t framesDrawn() const;
  void setFrameShownHook(std::function<void(dispatch::TimePoint capturedAt)> hook);
  // The surfaces (one of them null).
  StereoGlSurface* glSurface() const { return glSurface_; }
  StereoRasterSurface* rasterSurface() const { return rasterSurface_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  StereoViewPath path_;
  StereoGlSurface* glSurface_ = nullptr;
  StereoRasterSurface* rasterSurface_ = nullptr;
  std::unique_ptr<ai3d::EyeViewFactory> factory_;
  std::function<void()> willClose_;
};

}  // namespace vistrelle::ui
