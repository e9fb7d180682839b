#include "ui/depth_preview_program.h"

#include <GL/glcorearb.h>

#include <string>

#include "ai3d/kernels/ai3d_kernel_library.h"
#include "ai3d/kernels/eye_viewport.h"
#include "platform/gpu/gl_error.h"
#include "platform/gpu/linux/gl_object.h"
#include "platform/gpu/linux/gl_program.h"

namespace vistrelle::ui {

struct DepthPreviewProgram::Objects {
  gpu::GlProgram program;
  gpu::GlBuffer quad;
  gpu::GlBuffer block;
  gpu::GlVertexArray layout;
  gpu::GlSampler linear;
};

DepthPreviewProgram::DepthPreviewProgram() : objects_(std::make_unique<Objects>()) {
  const gpu::KernelLibrary& library = ai3d::ai3dKernelLibrary();
  const gpu::KernelFunction* vs = library.find("vertexShader");
  const gpu::KernelFunction* fs = library.find("fragmentShader");
  if (vs == nullptr || fs == nullptr) throw gpu::GlError("kernel library has no preview shaders");
  Objects& o = *objects_;
  o.program = gpu::GlProgram::render(*vs, *fs);

  const float scale[4] = {1.0f, 0, 0, 0};
  o.block = gpu::GlBuffer::create();
  glBindBuffer(GL_UNIFORM_BUFFER, o.block.get());
  glBufferData(GL_UNIFORM_BUFFER, sizeof scale, scale, GL_STATIC_DRAW);
  glBindBuffer(GL_UNIFORM_BUFFER, 0);

  o.quad = gpu::GlBuffer::create();
  o.layout = gpu::GlVertexArray::create();
  glBindVertexArray(o.layout.get());
  glBindBuffer(GL_ARRAY_BUFFER, o.quad.get());
  glBufferData(GL_ARRAY_BUFFER, sizeof(ai3d::kEyeQuadVertices), ai3d::kEyeQuadVertices.data(),
               GL_STATIC_DRAW);
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
  glEnableVertexAttribArray(1);
  glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<const void*>(8));
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);

  o.linear = gpu::GlSampler::create();
  glSamplerParameteri(o.linear.get(), GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glSamplerParameteri(o.linear.get(), GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
    throw gpu::GlError("setting up the depth preview failed (GL error " + std::to_string(error) +
                       ")");
  }
}

DepthPreviewProgram::~DepthPreviewProgram() = default;

void DepthPreviewProgram::draw(unsigned depthTexture) const {
  const Objects& o = *objects_;
  glBindBufferBase(GL_UNIFORM_BUFFER, 1, o.block.get());
  glUseProgram(o.program.get());
  glBindVertexArray(o.layout.get());
  glActiveTexture(GL_TEXTURE0);
  glBindTexture(GL_TEXTURE_2D, depthTexture);
  glBindSampler(0, o.linear.get());
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glBindSampler(0, 0);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindVertexArray(0);
  glUseProgram(0);
  glBindBufferBase(GL_UNIFORM_BUFFER, 1, 0);
}

}  // namespace vistrelle::ui
