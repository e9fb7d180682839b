#include "ai3d/kernels/gl/eye_program.h"

#include <string>

#include "platform/gpu/gl_error.h"

namespace vistrelle::ai3d {
namespace {

gpu::GlProgram buildEyeProgram(const gpu::KernelLibrary& library) {
  const gpu::KernelFunction* vs = library.find(kEyeVertexShader);
  const gpu::KernelFunction* fs = library.find(kEyeFragmentShader);
  if (vs == nullptr || fs == nullptr) throw gpu::GlError("kernel library has no eye-view shaders");
  return gpu::GlProgram::render(*vs, *fs);
}

}  // namespace

EyeProgram::EyeProgram(const gpu::KernelLibrary& library) : program_(buildEyeProgram(library)) {
  makeFixedObjects();
}

EyeProgram::EyeProgram(gpu::GlProgram program) : program_(std::move(program)) {
  if (!program_) throw gpu::GlError("no eye-view program");
  makeFixedObjects();
}

void EyeProgram::makeFixedObjects() {
  block_ = gpu::GlBuffer::create();
  glBindBuffer(GL_UNIFORM_BUFFER, block_.get());
  glBufferData(GL_UNIFORM_BUFFER, 16, nullptr, GL_DYNAMIC_DRAW);
  glBindBuffer(GL_UNIFORM_BUFFER, 0);

  quad_ = gpu::GlBuffer::create();
  layout_ = gpu::GlVertexArray::create();
  glBindVertexArray(layout_.get());
  glBindBuffer(GL_ARRAY_BUFFER, quad_.get());
  glBufferData(GL_ARRAY_BUFFER, sizeof(kEyeQuadVertices), kEyeQuadVertices.data(), GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);

  linear_ = gpu::GlSampler::create();
  glSamplerParameteri(linear_.get(), GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glSamplerParameteri(linear_.get(), GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glSamplerParameteri(linear_.get(), GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glSamplerParameteri(linear_.get(), GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
    throw gpu::GlError("setting up the eye program failed (GL error " + std::to_string(error) +
                       ")");
  }
}

void EyeProgram::draw(GLuint frame, GLuint leftMap, GLuint rightMap, float signedDepth) const {
  const float block[4] = {signedDepth, 0, 0, 0};
  glBindBuffer(GL_UNIFORM_BUFFER, block_.get());
  glBufferSubData(GL_UNIFORM_BUFFER, 0, sizeof block, block);
  glBindBuffer(GL_UNIFORM_BUFFER, 0);
  glBindBufferBase(GL_UNIFORM_BUFFER, 0, block_.get());
  glUseProgram(program_.get());
  glBindVertexArray(layout_.get());
  const GLuint textures[3] = {frame, leftMap, rightMap};
  for (GLuint unit = 0; unit < 3; ++unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, textures[unit]);
    glBindSampler(unit, linear_.get());
  }
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  for (GLuint unit = 0; unit < 3; ++unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindSampler(unit, 0);
  }
  glActiveTexture(GL_TEXTURE0);
  glBindVertexArray(0);
  glUseProgram(0);
}

void EyeProgram::drawEye(const EyeDraw& eye, int targetHeight, int frameWidth, int frameHeight,
                         GLuint frame, GLuint leftMap, GLuint rightMap) const {
  // GL counts rows from the bottom.
  const int glY = targetHeight - eye.y - eye.height;
  glEnable(GL_SCISSOR_TEST);
  glScissor(eye.x, glY, eye.width, eye.height);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  const EyeViewport vp =
      fitEyeViewport(float(frameWidth), float(frameHeight), float(eye.width), float(eye.height));
  glViewportIndexedf(0, float(eye.x) + vp.x, float(glY) + (float(eye.height) - vp.y - vp.height),
                     vp.width, vp.height);
  // The scissor stays on for the draw: nothing lands outside the eye.
  draw(frame, leftMap, rightMap, eye.signedDepth);
  glDisable(GL_SCISSOR_TEST);
}

}  // namespace vistrelle::ai3d
