// GlProgram: a linked GL program built from kernel-library functions.
//
//   GlProgram filter = GlProgram::compute(*library.find("dynamicDepthFilter"));
//   GlProgram eye = GlProgram::render(*library.find("vertexShaderDe"), *library.find("PSMain"));
//   glUseProgram(filter.get());
//
// Build failures throw GlError naming the function and carrying the info log.
#pragma once

#include <GL/glcorearb.h>

#include "platform/gpu/kernel_library.h"

namespace vistrelle::gpu {

class GlProgram {
 public:
  GlProgram() = default;
  static GlProgram compute(const KernelFunction& function);
  static GlProgram render(const KernelFunction& vertex, const KernelFunction& fragment);
  ~GlProgram();
  GlProgram(GlProgram&& other) noexcept;
  GlProgram& operator=(GlProgram&& other) noexcept;
  GlProgram(const GlProgram&) = delete;
  GlProgram& operator=(const GlProgram&) = delete;

  GLuint get() const { return program_; }
  explicit operator bool() const { return program_ != 0; }

 private:
  explicit GlProgram(GLuint program) : program_(program) {}
  GLuint program_ = 0;
};

}  // namespace vistrelle::gpu
