// EyeProgram: the eye views' drawing on OpenGL: "vertexShaderDe" + "PSMain"
// with the quad (kEyeQuadVertices in one vertex buffer: x, y at attribute 0,
// u, v at attribute 1), one linear clamp-to-edge sampler on texture units
// 0-2 (frame, left map, right map) and the 16-byte uniform block at binding
// 0 that carries the signed depth value. The headless GL back-end and an
// on-screen GL widget each build one in their own context.
//
//   EyeProgram program;   // with the context current; throws gpu::GlError
//   program.drawEye(EyeDraw{0, 0, 1920, 1080, -depthValue}, 1080, frameW, frameH,
//                   frameTexture, leftMap, rightMap);          // left half
//   program.drawEye(EyeDraw{1920, 0, 1920, 1080, depthValue}, 1080, ...);   // right half
//
// The shaders are "#version 430" with layout(binding): the context must be
// an OpenGL 4.3 core context (for Qt: a QSurfaceFormat of 4.3, CoreProfile,
// made the default before the QApplication). Build, use and destroy the
// program with that context current. Maps made by a KernelBackend reach
// another context through KernelBackend::read (half bits, uploaded as
// GL_R16F with GL_RED/GL_HALF_FLOAT), unless the two contexts share objects.
#pragma once

#include <GL/glcorearb.h>

#include "ai3d/kernels/ai3d_kernel_library.h"
#include "ai3d/kernels/eye_viewport.h"
#include "platform/gpu/kernel_library.h"
#include "platform/gpu/linux/gl_object.h"
#include "platform/gpu/linux/gl_program.h"

namespace vistrelle::ai3d {

class EyeProgram {
 public:
  explicit EyeProgram(const gpu::KernelLibrary& library = ai3dKernelLibrary());
  // Uses a program already built from the library's "vertexShaderDe" and
  // "PSMain" (so that a back-end compiles each function only once).
  explicit EyeProgram(gpu::GlProgram program);

  // Draws the quad into the current viewport of the bound framebuffer with
  // the three textures and the signed depth (negative: left eye, left map).
  void draw(GLuint frame, GLuint leftMap, GLuint rightMap, float signedDepth) const;

  // One eye into its rectangle of the bound framebuffer, which is
  // targetHeight rows high (draw counts rows from the top): the rectangle is
  // cleared to opaque black and the frame aspect-fitted into it. Leaves the
  // scissor test off.
  void drawEye(const EyeDraw& eye, int targetHeight, int frameWidth, int frameHeight, GLuint frame,
               GLuint leftMap, GLuint rightMap) const;

  GLuint program() const { return program_.get(); }

 private:
  void makeFixedObjects();

  gpu::GlProgram program_;
  gpu::GlBuffer quad_;
  gpu::GlBuffer block_;
  gpu::GlVertexArray layout_;
  gpu::GlSampler linear_;
};

}  // namespace vistrelle::ai3d
