// StereoRasterSurface: the 3D window's content where OpenGL cannot draw it
// (no context, the eye program failed, or a software renderer, slower than
// the CPU compositor): the eye views draw into a side-by-side canvas with
// the kernel back-end's compositor, and this widget paints the canvas,
// scaled to its size where they differ. GUI thread only.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "ai3d/pipeline/side_by_side_canvas.h"
#include "platform/dispatch/clock.h"

namespace vistrelle::ui {

class StereoRasterSurface : public QWidget {
  Q_OBJECT

 public:
  StereoRasterSurface(ai3d::SideBySideCanvas& canvas, QWidget* parent = nullptr);

  // The views drew a frame captured at `capturedAt`: paint it.
  void frameDrawn(dispatch::TimePoint capturedAt);
  uint64_t framesDrawn() const { return framesDrawn_; }
  void setFrameShownHook(std::function<void(dispatch::TimePoint capturedAt)> hook) {
    frameShown_ = std::move(hook);
  }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  ai3d::SideBySideCanvas& canvas_;
  uint64_t framesDrawn_ = 0;
  dispatch::TimePoint pendingCapture_{0};
  bool pending_ = false;
  std::function<void(dispatch::TimePoint)> frameShown_;
};

}  // namespace vistrelle::ui
