// GlEyeView: one eye of the 3D window's OpenGL surface. It hands the
// surface its frame, maps (host copies, see GlFrameTextureCache) and depth
// value; draw() asks the surface for a paint, which draws both eyes. A
// QObject so that it is freed on the GUI thread (GlEyeViewFactory gives it
// a deleteLater deleter). GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>

#include "ai3d/pipeline/eye_view.h"
#include "ui/stereo_gl_surface.h"

namespace vistrelle::ui {

class GlEyeView final : public QObject, public ai3d::EyeView {
  Q_OBJECT

 public:
  // A fresh view: its half of the surface turns black.
  GlEyeView(StereoGlSurface* surface, bool isRightEye);

  bool isRightEye() const override { return isRightEye_; }
  // Maps that are not host copies leave the eye without a picture.
  void setTextures(capture::CaptureFramePtr bgraTexture,
                   std::shared_ptr<const ai3d::KernelMap> depthLeftTexture,
                   std::shared_ptr<const ai3d::KernelMap> depthRightTexture) override;
  void setDepthValue(float depthValue) override;
  // Without all three textures: "Metal resources not available", nothing
  // drawn. In the depth preview: the preview, with or without its texture.
  void draw() override;

  // The second drawing mode, a preview of one depth map as grey; nothing in
  // the application switches it on. A map that is not a host copy shows none.
  bool isShwoDepth() const { return isShwoDepth_; }
  void setIsShwoDepth(bool showDepth);
  void setDepthTexture(std::shared_ptr<const ai3d::KernelMap> depthTexture);

 private:
  void updatePreview();

  QPointer<StereoGlSurface> surface_;
  const bool isRightEye_;
  bool isShwoDepth_ = false;
  std::shared_ptr<const ai3d::HalfMapCopy> depthTexture_;
};

}  // namespace vistrelle::ui
