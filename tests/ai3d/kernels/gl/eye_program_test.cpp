// The eye program built in a context of its own (as an on-screen widget
// would), fed maps through KernelBackend::read, against the CPU compositor.
#include "ai3d/kernels/gl/eye_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ai3d/kernels/depth_map.h"
#include "ai3d/kernels/eye_view_compositor.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_backend_factory.h"
#include "platform/gpu/egl_context.h"
#include "platform/gpu/gl_error.h"
#include "platform/gpu/linux/linux_egl_driver.h"

namespace vistrelle::ai3d {
namespace {

std::vector<uint8_t> smoothFrame(int width, int height) {
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 4];
      p[0] = uint8_t(255.0 * x / (width - 1));
      p[1] = uint8_t(255.0 * y / (height - 1));
      p[2] = uint8_t(127.5 + 127.0 * std::sin(6.28318 * (x + y) / (width + height)));
      p[3] = 255;
    }
  }
  return pixels;
}

// A map from the CPU back-end as the on-screen side gets it: half bits.
gpu::GlTexture textureOfMap(KernelBackend& backend, const KernelMap& map) {
  std::vector<uint16_t> halves(size_t(map.width()) * size_t(map.height()));
  backend.read(map, halves);
  gpu::GlTexture texture = gpu::GlTexture::create();
  glBindTexture(GL_TEXTURE_2D, texture.get());
  glTexStorage2D(GL_TEXTURE_2D, 1, GL_R16F, map.width(), map.height());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, map.width(), map.height(), GL_RED, GL_HALF_FLOAT,
                  halves.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  return texture;
}

TEST(EyeProgramTest, DrawsBothEyesLikeTheCpuCompositor) {
  std::unique_ptr<gpu::EglContext> context;
  try {
    context = gpu::EglContext::create(gpu::LinuxEglDriver::shared(), {/*allowSoftware=*/true});
  } catch (const gpu::GlError& e) {
    GTEST_SKIP() << e.what();
  }
  auto cpu = makeCpuKernelBackend(2);
  const int mapW = 130, mapH = 74;
  DepthMap bump(mapW, mapH, MapFormat::Float16);
  for (int y = 0; y < mapH; ++y) {
    for (int x = 0; x < mapW; ++x) {
      const double dx = (x - mapW / 2.0) / mapW, dy = (y - mapH / 2.0) / mapH;
      bump.halves()[size_t(y * mapW + x)] =
          floatToHalf(float(0.2 + 0.7 * std::exp(-(dx * dx + dy * dy) * 8)));
    }
  }
  auto left = cpu->acquireMap(mapW, mapH);
  auto right = cpu->acquireMap(mapW, mapH);
  cpu->upload(bump.view(), *left);
  cpu->gaussianBlur(*left, *right);  // a different map for the right eye

  const int frameW = 320, frameH = 180, outW = 480, outH = 135;  // letterboxed eyes
  const std::vector<uint8_t> frame = smoothFrame(frameW, frameH);
  const float depthValue = 0.015f;
  std::vector<uint8_t> want(size_t(outW) * outH * 4);
  EyeViewCompositor(*cpu).drawSideBySide({frame.data(), frameW, frameH, 0}, *left, *right,
                                         depthValue, {want.data(), outW, outH, 0});

  gpu::EglContext::Current current(*context);
  EyeProgram program;
  gpu::GlTexture frameTexture = gpu::GlTexture::create();
  glBindTexture(GL_TEXTURE_2D, frameTexture.get());
  glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, frameW, frameH);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, frameW, frameH, GL_BGRA, GL_UNSIGNED_BYTE, frame.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  gpu::GlTexture leftTexture = textureOfMap(*cpu, *left);
  gpu::GlTexture rightTexture = textureOfMap(*cpu, *right);
  gpu::GlTexture target = gpu::GlTexture::create();
  glBindTexture(GL_TEXTURE_2D, target.get());
  glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, outW, outH);
  glBindTexture(GL_TEXTURE_2D, 0);
  gpu::GlFramebuffer framebuffer = gpu::GlFramebuffer::create();
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.get());
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.get(), 0);
  ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
  const int half = outW / 2;
  program.drawEye({0, 0, half, outH, -depthValue}, outH, frameW, frameH, frameTexture.get(),
                  leftTexture.get(), rightTexture.get());
  program.drawEye({half, 0, outW - half, outH, depthValue}, outH, frameW, frameH,
                  frameTexture.get(), leftTexture.get(), rightTexture.get());
  std::vector<uint8_t> got(want.size());
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, outW, outH, GL_BGRA, GL_UNSIGNED_BYTE, got.data());
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));

  int bad = 0;
  for (int y = 0; y < outH && bad < 8; ++y) {
    const uint8_t* g = &got[size_t(outH - 1 - y) * outW * 4];  // GL rows run bottom-up
    const uint8_t* w = &want[size_t(y) * outW * 4];
    for (int i = 0; i < outW * 4 && bad < 8; ++i) {
      if (std::abs(int(g[i]) - int(w[i])) > (i % 4 == 3 ? 0 : 2)) {
        ++bad;
        ADD_FAILURE() << "pixel (" << i / 4 << ", " << y << ") channel " << i % 4 << ": GL "
                      << int(g[i]) << ", CPU " << int(w[i]);
      }
    }
  }
  // Not trivially equal: the eyes differ and the letterbox shows.
  EXPECT_NE(std::memcmp(&want[0], &want[size_t(half) * 4], size_t(half) * 4), 0);
}

}  // namespace
}  // namespace vistrelle::ai3d
