#include "ui/stereo_gl_surface.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <cstdio>
#include <exception>

namespace vistrelle::ui {

StereoGlSurface::StereoGlSurface(QWidget* parent) : QOpenGLWidget(parent) {
  // The surface is painted whole every time: nothing of it is kept.
  setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
  connect(this, &QOpenGLWidget::frameSwapped, this, [this] {
    if (!drewFrame_) return;
    drewFrame_ = false;
    if (frameShown_) frameShown_(drawnCapture_);
  });
}

StereoGlSurface::~StereoGlSurface() {
  releaseRenderer();
  // The base class destroys the context after this object is gone.
  disconnect(contextGone_);
}

void StereoGlSurface::releaseRenderer() {
  if (!renderer_) return;
  // GL objects go with the context they live in current.
  makeCurrent();
  uploadsOfReleased_ += renderer_->frameUploads();
  renderer_.reset();
  doneCurrent();
}

void StereoGlSurface::initializeGL() {
  // The renderer of an earlier context went when that context was about to
  // be destroyed (the widget moved to another window).
  disconnect(contextGone_);
  contextGone_ = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this,
                         &StereoGlSurface::releaseRenderer);
  try {
    renderer_ = std::make_unique<StereoGlRenderer>();
    failure_.clear();
  } catch (const std::exception& error) {
    failure_ = error.what();
    std::printf("Failed to create pipeline state: %s\n", error.what());
    std::fflush(stdout);
  }
}

void StereoGlSurface::attachEye(bool rightEye) {
  eyes_[rightEye] = StereoGlRenderer::Eye{};
  update();
}

void StereoGlSurface::setEye(bool rightEye, capture::CaptureFramePtr frame,
                             std::shared_ptr<const ai3d::HalfMapCopy> left,
                             std::shared_ptr<const ai3d::HalfMapCopy> right) {
  StereoGlRenderer::Eye& eye = eyes_[rightEye];
  eye.frame = std::move(frame);
  eye.left = std::move(left);
  eye.right = std::move(right);
}

void StereoGlSurface::setDepthValue(bool rightEye, float depthValue) {
  depthValues_[rightEye] = depthValue;
}

void StereoGlSurface::setDepthPreview(bool rightEye, bool showDepth,
                                      std::shared_ptr<const ai3d::HalfMapCopy> depth) {
  eyes_[rightEye].showDepth = showDepth;
  eyes_[rightEye].depth = std::move(depth);
}

uint64_t StereoGlSurface::frameUploads() const {
  return uploadsOfReleased_ + (renderer_ ? renderer_->frameUploads() : 0);
}

void StereoGlSurface::paintGL() {
  const qreal ratio = devicePixelRatioF();
  const int width = static_cast<int>(this->width() * ratio);
  const int height = static_cast<int>(this->height() * ratio);
  if (!renderer_) {
    auto* f = context()->functions();
    f->glClearColor(0, 0, 0, 1);
    f->glClear(GL_COLOR_BUFFER_BIT);
    return;
  }
  eyes_[0].signedDepth = -depthValues_[0];
  eyes_[1].signedDepth = depthValues_[1];
  try {
    renderer_->draw(eyes_[0], eyes_[1], width, height);
  } catch (const std::exception& error) {
    std::printf("3D window: %s\n", error.what());
    std::fflush(stdout);
    return;
  }
  auto showsFrame = [](const StereoGlRenderer::Eye& eye) {
    return !eye.showDepth && eye.complete();
  };
  const StereoGlRenderer::Eye* shown = showsFrame(eyes_[0])   ? &eyes_[0]
                                       : showsFrame(eyes_[1]) ? &eyes_[1]
                                                              : nullptr;
  if (shown == nullptr) return;
  ++framesDrawn_;
  drawnCapture_ = shown->frame->timestamp();
  drewFrame_ = true;
}

}  // namespace vistrelle::ui
