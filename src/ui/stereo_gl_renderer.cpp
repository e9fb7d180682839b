#include "ui/stereo_gl_renderer.h"

#include <GL/glcorearb.h>

#include "ai3d/kernels/eye_viewport.h"
#include "ai3d/kernels/gl/eye_program.h"
#include "platform/gpu/gl_error.h"
#include "platform/gpu/linux/gl_object.h"
#include "ui/depth_preview_program.h"

namespace vistrelle::ui {

namespace {

// One eye map in the context, and which copy it holds.
struct MapTexture {
  gpu::GlTexture texture;
  int width = 0;
  int height = 0;
  uint64_t serial = 0;
};

void checkGl(const char* what) {
  if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
    throw gpu::GlError(std::string(what) + " failed (GL error " + std::to_string(error) + ")");
  }
}

gpu::GlTexture makeTexture(GLenum format, int width, int height) {
  gpu::GlTexture texture = gpu::GlTexture::create();
  glBindTexture(GL_TEXTURE_2D, texture.get());
  glTexStorage2D(GL_TEXTURE_2D, 1, format, width, height);
  glBindTexture(GL_TEXTURE_2D, 0);
  return texture;
}

void uploadMap(MapTexture& target, const ai3d::HalfMapCopy& map) {
  if (target.texture && target.serial == map.serial() && target.width == map.width() &&
      target.height == map.height()) {
    return;
  }
  if (!target.texture || target.width != map.width() || target.height != map.height()) {
    target.texture = makeTexture(GL_R16F, map.width(), map.height());
    target.width = map.width();
    target.height = map.height();
  }
  glBindTexture(GL_TEXTURE_2D, target.texture.get());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, map.width(), map.height(), GL_RED, GL_HALF_FLOAT,
                  map.values().data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glBindTexture(GL_TEXTURE_2D, 0);
  target.serial = map.serial();
}

}  // namespace

struct StereoGlRenderer::Textures {
  ai3d::EyeProgram program;
  gpu::GlTexture frame;
  int frameWidth = 0;
  int frameHeight = 0;
  // What was uploaded last: frames come back from their pool at the same
  // address, each grab with a timestamp of its own.
  const capture::CaptureFrame* uploadedFrame = nullptr;
  dispatch::TimePoint uploadedAt{-1};
  MapTexture left;
  MapTexture right;
  MapTexture depth;
  std::unique_ptr<DepthPreviewProgram> preview;  // made at the first preview
};

StereoGlRenderer::StereoGlRenderer() : textures_(std::make_unique<Textures>()) {
  checkGl("building the eye program");
}

StereoGlRenderer::~StereoGlRenderer() = default;

std::string StereoGlRenderer::currentRenderer() {
  const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  return std::string(renderer != nullptr ? renderer : "unknown renderer") + ", " +
         (version != nullptr ? version : "unknown version");
}

void StereoGlRenderer::upload(const Eye& eye) {
  Textures& t = *textures_;
  const capture::CaptureFrame& frame = *eye.frame;
  if (&frame != t.uploadedFrame || frame.timestamp() != t.uploadedAt) {
    if (t.frameWidth != frame.width() || t.frameHeight != frame.height()) {
      t.frame = makeTexture(GL_RGBA8, frame.width(), frame.height());
      t.frameWidth = frame.width();
      t.frameHeight = frame.height();
    }
    glBindTexture(GL_TEXTURE_2D, t.frame.get());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(frame.stride() / 4));
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frame.width(), frame.height(), GL_BGRA,
                    GL_UNSIGNED_BYTE, frame.data());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    t.uploadedFrame = &frame;
    t.uploadedAt = frame.timestamp();
    ++frameUploads_;
  }
  uploadMap(t.left, *eye.left);
  uploadMap(t.right, *eye.right);
  checkGl("uploading the eye textures");
}

void StereoGlRenderer::draw(const Eye& leftEye, const Eye& rightEye, int width, int height) {
  glDisable(GL_SCISSOR_TEST);
  glViewport(0, 0, width, height);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  const int half = width / 2;
  const Eye* eyes[2] = {&leftEye, &rightEye};
  for (int i = 0; i < 2; ++i) {
    const Eye& eye = *eyes[i];
    if (eye.showDepth) {
      drawPreview(eye, i == 0 ? 0 : half, i == 0 ? half : width - half, height);
      continue;
    }
    if (!eye.complete()) continue;
    upload(eye);
    const ai3d::EyeDraw rect{i == 0 ? 0 : half, 0, i == 0 ? half : width - half, height,
                             eye.signedDepth};
    textures_->program.drawEye(rect, height, eye.frame->width(), eye.frame->height(),
                               textures_->frame.get(), textures_->left.texture.get(),
                               textures_->right.texture.get());
  }
  glViewport(0, 0, width, height);
  checkGl("drawing the eyes");
}

void StereoGlRenderer::drawPreview(const Eye& eye, int x, int width, int height) {
  Textures& t = *textures_;
  if (!t.preview) t.preview = std::make_unique<DepthPreviewProgram>();
  if (eye.depth) uploadMap(t.depth, *eye.depth);
  const float frameWidth = eye.frame ? static_cast<float>(eye.frame->width()) : 1.0f;
  const float frameHeight = eye.frame ? static_cast<float>(eye.frame->height()) : 1.0f;
  const ai3d::EyeViewport vp =
      ai3d::fitEyeViewport(frameWidth, frameHeight, static_cast<float>(width), float(height));
  glEnable(GL_SCISSOR_TEST);
  glScissor(x, 0, width, height);
  glViewportIndexedf(0, static_cast<float>(x) + vp.x, static_cast<float>(height) - vp.y - vp.height,
                     vp.width, vp.height);
  t.preview->draw(eye.depth ? t.depth.texture.get() : 0);
  glDisable(GL_SCISSOR_TEST);
  checkGl("drawing the depth preview");
}

}  // namespace vistrelle::ui
