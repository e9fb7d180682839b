// The context search over a fake EGL: which display wins, what is passed
// over and why, and that refused contexts are not left behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/gpu/egl_context.h"
#include "platform/gpu/fake/fake_egl_driver.h"
#include "platform/gpu/gl_error.h"
#include "platform/gpu/software_renderer.h"

namespace vistrelle::gpu {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kLlvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits), 4.5 (Core Profile) Mesa 22.3.6";
const std::string kNvidia = "NVIDIA GeForce RTX 3060/PCIe/SSE2, 4.6.0 NVIDIA 535.104.05";

TEST(SoftwareRenderer, NamesThatRasteriseOnTheCpu) {
  EXPECT_TRUE(isSoftwareRenderer(kLlvmpipe));
  EXPECT_TRUE(isSoftwareRenderer("Gallium 0.4 on softpipe, 3.3 (Core Profile) Mesa"));
  EXPECT_TRUE(isSoftwareRenderer("Mesa DRI SWRAST"));
  EXPECT_FALSE(isSoftwareRenderer(kNvidia));
  EXPECT_FALSE(isSoftwareRenderer("AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49)"));
}

struct SearchCase {
  const char* name;
  std::vector<FakeEglDriver::FakeDisplay> table;
  bool allowSoftware;
  const char* platform;  // nullptr: no context
  std::vector<std::string> asked;
  const char* reason;  // in the error when no context
};

TEST(EglContextSearch, Table) {
  const SearchCase cases[] = {
      {"the GPU's device comes before Mesa's surfaceless platform",
       {{"device 0", false, true, true, kNvidia}, {"surfaceless", false, true, true, kLlvmpipe}},
       false,
       "device 0",
       {"device 0"},
       ""},
      {"a software device is never asked",
       {{"device 0", true, true, true, kLlvmpipe}, {"device 1", false, true, true, kNvidia}},
       false,
       "device 1",
       {"device 1"},
       ""},
      {"surfaceless falling back to llvmpipe is refused on the automatic road",
       {{"device 0", true, true, true, kLlvmpipe}, {"surfaceless", false, true, true, kLlvmpipe}},
       false,
       nullptr,
       {"surfaceless"},
       "surfaceless: software renderer llvmpipe"},
      {"and taken where software is allowed",
       {{"device 0", true, true, true, kLlvmpipe}, {"surfaceless", false, true, true, kLlvmpipe}},
       true,
       "surfaceless",
       {"surfaceless"},
       ""},
      {"no EGL display at all", {}, true, nullptr, {}, "no EGL display"},
      {"GL 4.3 missing on the device, the default display does not initialise",
       {{"device 0", false, true, false, "old GPU"}, {"default", false, false, true, ""}},
       true,
       nullptr,
       {"device 0", "default"},
       "device 0: no OpenGL 4.3 core context"},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEglDriver driver(c.table);
    {
      std::unique_ptr<EglContext> context;
      std::string error;
      try {
        context = EglContext::create(driver, {c.allowSoftware});
      } catch (const GlError& e) {
        error = e.what();
      }
      EXPECT_EQ(driver.asked(), c.asked);
      if (c.platform == nullptr) {
        EXPECT_EQ(context, nullptr);
        EXPECT_THAT(error, HasSubstr(c.reason));
        EXPECT_EQ(driver.liveContexts(), 0) << "a refused context was left alive";
        continue;
      }
      ASSERT_NE(context, nullptr) << error;
      EXPECT_EQ(context->platform(), c.platform);
      EXPECT_EQ(driver.liveContexts(), 1);
      EXPECT_EQ(context->isSoftware(), isSoftwareRenderer(context->renderer()));
    }
    EXPECT_EQ(driver.liveContexts(), 0);
  }
}

TEST(EglContextSearch, NestedScopesMakeTheContextCurrentOnce) {
  FakeEglDriver driver({{"device 0", false, true, true, kNvidia}});
  auto context = EglContext::create(driver, {false});
  const int before = driver.makeCurrentCalls();
  {
    EglContext::Current frame(*context);
    for (int i = 0; i < 5; ++i) EglContext::Current call(*context);
    EXPECT_EQ(driver.currentRenderer(), kNvidia) << "still current inside the outer scope";
  }
  EXPECT_EQ(driver.makeCurrentCalls() - before, 2) << "one bind and one release";
  EXPECT_EQ(driver.currentRenderer(), "");
  // Another thread gets it once the first let go.
  std::thread other([&] { EglContext::Current current(*context); });
  other.join();
  EXPECT_EQ(driver.makeCurrentCalls() - before, 4);
}

}  // namespace
}  // namespace vistrelle::gpu
