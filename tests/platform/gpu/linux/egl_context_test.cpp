// The headless context on whatever EGL offers here (llvmpipe in CI).
#include "platform/gpu/egl_context.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/gpu/gl_error.h"
#include "platform/gpu/linux/gl_object.h"
#include "platform/gpu/linux/gl_program.h"
#include "platform/gpu/linux/linux_egl_driver.h"

namespace vistrelle::gpu {
namespace {

class EglContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    try {
      context_ = EglContext::create(LinuxEglDriver::shared(), {});
    } catch (const GlError& e) {
      GTEST_SKIP() << "no OpenGL 4.3 context could be made: " << e.what();
    }
  }
  std::unique_ptr<EglContext> context_;
};

TEST_F(EglContextTest, IsAtLeastGl43Core) {
  EglContext::Current current(*context_);
  GLint major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  EXPECT_GE(major * 10 + minor, 43);
  EXPECT_FALSE(context_->renderer().empty());
  EXPECT_FALSE(context_->platform().empty());
}

TEST_F(EglContextTest, UsableFromAnotherThreadAfterRelease) {
  { EglContext::Current current(*context_); }
  std::thread other([&] {
    EglContext::Current current(*context_);
    GlTexture texture = GlTexture::create();
    EXPECT_NE(texture.get(), 0u);
  });
  other.join();
}

TEST_F(EglContextTest, ComputeProgramBuildsAndRuns) {
  EglContext::Current current(*context_);
  const KernelFunction fill{"fill", ShaderStage::Compute, R"(#version 430
layout(local_size_x = 16, local_size_y = 16) in;
layout(binding = 0, r32f) uniform writeonly image2D target;
void main() {
  ivec2 p = ivec2(gl_GlobalInvocationID.xy);
  if (p.x >= imageSize(target).x || p.y >= imageSize(target).y) return;
  imageStore(target, p, vec4(float(p.x + 10 * p.y)));
})"};
  GlProgram program = GlProgram::compute(fill);
  GlTexture texture = GlTexture::create();
  glBindTexture(GL_TEXTURE_2D, texture.get());
  glTexStorage2D(GL_TEXTURE_2D, 1, GL_R32F, 3, 2);
  glBindImageTexture(0, texture.get(), 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_R32F);
  glUseProgram(program.get());
  glDispatchCompute(1, 1, 1);
  glMemoryBarrier(GL_TEXTURE_UPDATE_BARRIER_BIT);
  float values[6] = {};
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RED, GL_FLOAT, values);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  const float expected[6] = {0, 1, 2, 10, 11, 12};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(values[i], expected[i]) << i;
}

TEST_F(EglContextTest, BuildErrorsCarryTheNameAndLog) {
  EglContext::Current current(*context_);
  const KernelFunction broken{"broken", ShaderStage::Compute,
                              "#version 430\nlayout(local_size_x = 1) in;\nvoid main() { x = 1; }"};
  try {
    GlProgram::compute(broken);
    FAIL() << "a broken shader compiled";
  } catch (const GlError& e) {
    EXPECT_NE(std::string(e.what()).find("broken"), std::string::npos) << e.what();
  }
  const KernelFunction vertex{"v", ShaderStage::Vertex, "#version 430\nvoid main() {}"};
  EXPECT_THROW(GlProgram::compute(vertex), GlError);
}

}  // namespace
}  // namespace vistrelle::gpu

namespace vistrelle::gpu {
namespace {

TEST(LinuxEglDriverTest, DevicesComeFirstAndTheAutomaticRoadRefusesSoftware) {
  const std::vector<EglDriver::Display> displays = LinuxEglDriver::shared().displays();
  bool pastDevices = false;
  for (const EglDriver::Display& display : displays) {
    const bool device = display.platform.rfind("device ", 0) == 0;
    EXPECT_FALSE(device && pastDevices) << display.platform << " after a non-device display";
    pastDevices = pastDevices || !device;
  }
  try {
    auto context = EglContext::create(LinuxEglDriver::shared(), {/*allowSoftware=*/false});
    EXPECT_FALSE(context->isSoftware()) << context->renderer();
  } catch (const GlError& e) {
    SUCCEED() << "no hardware OpenGL here: " << e.what();
  }
}

}  // namespace
}  // namespace vistrelle::gpu
