// StereoGlSurface: the 3D window's OpenGL content: one surface (3840 x 1080
// on the glasses) on which both eye views draw, the left eye in the left
// half. The eye views hand it their frame, maps and depth value and ask for
// a draw; the next paint uploads what changed and draws both halves (two
// viewports) with the eye program. Needs an OpenGL 4.3 core context (the
// application's default surface format). GUI thread only.
#pragma once

#include <QOpenGLWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/clock.h"
#include "ui/stereo_gl_renderer.h"

namespace vistrelle::ui {

class StereoGlSurface : public QOpenGLWidget {
  Q_OBJECT

 public:
  explicit StereoGlSurface(QWidget* parent = nullptr);
  ~StereoGlSurface() override;

  // A fresh view of that eye: its half turns black until it gets a picture.
  void attachEye(bool rightEye);
  void setEye(bool rightEye, capture::CaptureFramePtr frame,
              std::shared_ptr<const ai3d::HalfMapCopy> left,
              std::shared_ptr<const ai3d::HalfMapCopy> right);
  void setDepthValue(bool rightEye, float depthValue);
  // The eye's depth preview in place of its picture (off at first).
  void setDepthPreview(bool rightEye, bool showDepth,
                       std::shared_ptr<const ai3d::HalfMapCopy> depth);
  bool eyeComplete(bool rightEye) const { return eyes_[rightEye].complete(); }
  // Asks for a paint (both eyes' draws of a frame make one).
  void requestDraw() { update(); }

  // Paints that drew at least one eye, and the frames uploaded for them.
  uint64_t framesDrawn() const { return framesDrawn_; }
  uint64_t frameUploads() const;
  // Why the surface draws nothing (the program failed in its context).
  const std::string& failure() const { return failure_; }
  // Runs after each swap that showed a frame, with that frame's capture time.
  void setFrameShownHook(std::function<void(dispatch::TimePoint capturedAt)> hook) {
    frameShown_ = std::move(hook);
  }

 protected:
  void initializeGL() override;
  void paintGL() override;

 private:
  void releaseRenderer();

  std::unique_ptr<StereoGlRenderer> renderer_;
  QMetaObject::Connection contextGone_;
  std::string failure_;
  StereoGlRenderer::Eye eyes_[2];
  float depthValues_[2] = {0, 0};
  uint64_t framesDrawn_ = 0;
  uint64_t uploadsOfReleased_ = 0;
  dispatch::TimePoint drawnCapture_{0};
  bool drewFrame_ = false;
  std::function<void(dispatch::TimePoint)> frameShown_;
};

}  // namespace vistrelle::ui
