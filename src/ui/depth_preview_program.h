// DepthPreviewProgram: the eye views' second drawing mode, a plain preview
// of a depth map as grey: "vertexShader" + "fragmentShader" with the eye
// quad, one linear sampler on unit 0 and the preview's scale (1.0) in the
// uniform block at binding 1. Nothing in the application switches it on.
// Build, use and destroy it with its OpenGL 4.3 core context current.
#pragma once

#include <memory>

namespace vistrelle::ui {

class DepthPreviewProgram {
 public:
  DepthPreviewProgram();  // throws gpu::GlError
  ~DepthPreviewProgram();
  DepthPreviewProgram(const DepthPreviewProgram&) = delete;
  DepthPreviewProgram& operator=(const DepthPreviewProgram&) = delete;

  // Into the current viewport of the bound framebuffer; texture 0 when
  // there is no map to show.
  void draw(unsigned depthTexture) const;

 private:
  struct Objects;
  std::unique_ptr<Objects> objects_;
};

}  // namespace vistrelle::ui
