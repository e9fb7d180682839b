// StereoGlRenderer: draws the glasses' side-by-side picture into the bound
// framebuffer of an on-screen OpenGL 4.3 core context: the left eye in the
// left half, the right eye in the right half, each the captured frame
// aspect-fitted and shifted by its eye's map ("vertexShaderDe" + "PSMain",
// the eye program). The frame and the maps are uploaded into the context
// only when they changed, so two eyes of one frame upload it once.
//
//   StereoGlRenderer renderer;                // context current; throws gpu::GlError
//   renderer.draw(eyes, 3840, 1080);          // both halves, black where an eye has nothing
//
// No GL header here: the widget that owns it includes Qt's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ai3d/pipeline/half_map_copy.h"
#include "platform/capture/capture_frame.h"

namespace vistrelle::ui {

class StereoGlRenderer {
 public:
  // What one eye shows.
  struct Eye {
    capture::CaptureFramePtr frame;
    std::shared_ptr<const ai3d::HalfMapCopy> left;
    std::shared_ptr<const ai3d::HalfMapCopy> right;
    float signedDepth = 0;  // -depthValue for the left eye, +depthValue for the right
    // The depth preview instead (off unless someone switches it on): this
    // map as grey, fitted like the frame (a square without one).
    bool showDepth = false;
    std::shared_ptr<const ai3d::HalfMapCopy> depth;
    bool complete() const { return frame && left && right; }
  };

  // With the context current.
  StereoGlRenderer();
  ~StereoGlRenderer();
  StereoGlRenderer(const StereoGlRenderer&) = delete;
  StereoGlRenderer& operator=(const StereoGlRenderer&) = delete;

  // GL_RENDERER and GL_VERSION of the current context, e.g.
  // "llvmpipe (LLVM 15.0.6, 256 bits), 4.5 (Core Profile) Mesa 22.3.6".
  static std::string currentRenderer();

  // Clears the bound framebuffer (width x height device pixels) to black
  // and draws each complete eye (each previewing one) into its half.
  void draw(const Eye& leftEye, const Eye& rightEye, int width, int height);

  // Frame uploads so far (one per new frame).
  uint64_t frameUploads() const { return frameUploads_; }

 private:
  struct Textures;
  void upload(const Eye& eye);
  void drawPreview(const Eye& eye, int x, int width, int height);

  std::unique_ptr<Textures> textures_;
  uint64_t frameUploads_ = 0;
};

}  // namespace vistrelle::ui
