// The automatic back-end choice over a table of fake EGL answers, and the
// one log line it writes.
#include "ai3d/kernels/kernel_backend_factory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/gpu/egl_context.h"
#include "platform/gpu/fake/fake_egl_driver.h"

namespace vistrelle::ai3d {
namespace {

using gpu::FakeEglDriver;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kLlvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits), 4.5 (Core Profile) Mesa 22.3.6";
const std::string kNvidia = "NVIDIA GeForce RTX 3060/PCIe/SSE2, 4.6.0 NVIDIA 535.104.05";

struct ChoiceCase {
  const char* name;
  std::vector<FakeEglDriver::FakeDisplay> egl;
  std::string forced;  // the environment variable's value
  BackendKind kind;
  const char* line;  // part of the log line
};

TEST(KernelBackendChoice, AutomaticTable) {
  const FakeEglDriver::FakeDisplay hardware{"device 0", false, true, true, kNvidia};
  const FakeEglDriver::FakeDisplay softwareDevice{"device 0", true, true, true, kLlvmpipe};
  const FakeEglDriver::FakeDisplay surfaceless{"surfaceless", false, true, true, kLlvmpipe};
  const ChoiceCase cases[] = {
      {"hardware device",
       {hardware, surfaceless},
       "",
       BackendKind::OpenGl,
       "AI 3D back-end: OpenGL, NVIDIA GeForce RTX 3060/PCIe/SSE2, 4.6.0 NVIDIA 535.104.05 "
       "(device 0)"},
      {"software device only",
       {softwareDevice, surfaceless},
       "",
       BackendKind::Cpu,
       "AI 3D back-end: CPU, 3 threads (OpenGL passed over: "},
      {"no EGL", {}, "", BackendKind::Cpu, "no EGL display"},
      {"GL 4.3 missing",
       {{"device 0", false, true, false, "old"}},
       "",
       BackendKind::Cpu,
       "device 0: no OpenGL 4.3 core context"},
      {"forced OpenGL takes the software renderer",
       {softwareDevice, surfaceless},
       "opengl",
       BackendKind::OpenGl,
       "llvmpipe"},
      {"forced CPU passes the GPU over",
       {hardware},
       "CPU",
       BackendKind::Cpu,
       "AI 3D back-end: CPU, 3 threads (forced by VISTRELLE_AI3D_BACKEND=CPU)"},
      {"a forcing value not understood",
       {hardware},
       "vulkan",
       BackendKind::OpenGl,
       "(VISTRELLE_AI3D_BACKEND=vulkan ignored: cpu or opengl)"},
  };
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeEglDriver driver(c.egl);
    BackendOptions options;
    options.egl = &driver;
    options.forced = c.forced;
    options.cpuThreads = 3;
    BackendPlan plan = planKernelBackend(BackendChoice::Automatic, options);
    EXPECT_EQ(plan.kind, c.kind);
    EXPECT_THAT(plan.line, HasSubstr(c.line));
    EXPECT_EQ(plan.context != nullptr, c.kind == BackendKind::OpenGl);
    if (c.kind == BackendKind::Cpu && c.forced.empty()) {
      EXPECT_THAT(plan.line, HasSubstr(plan.glFailure));
    }
    plan.context.reset();
    EXPECT_EQ(driver.liveContexts(), 0);
  }
}

TEST(KernelBackendChoice, SoftwareRendererOnlyWhenOpenGlIsAskedForByName) {
  FakeEglDriver driver({{"surfaceless", false, true, true, kLlvmpipe}});
  BackendOptions options;
  options.egl = &driver;
  options.forced = "";
  EXPECT_EQ(planKernelBackend(BackendChoice::Automatic, options).kind, BackendKind::Cpu);
  BackendPlan named = planKernelBackend(BackendChoice::OpenGl, options);
  ASSERT_EQ(named.kind, BackendKind::OpenGl);
  EXPECT_TRUE(named.context->isSoftware());
}

TEST(KernelBackendChoice, ThisMachineLogsOneLineAndNeverPicksSoftwareGl) {
  std::vector<std::string> lines;
  BackendOptions options;
  options.forced = "";
  options.log = [&](const std::string& line) { lines.push_back(line); };
  auto backend = makeKernelBackend(BackendChoice::Automatic, options);
  ASSERT_NE(backend, nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], StartsWith("AI 3D back-end: "));
  if (backend->kind() == BackendKind::OpenGl) {
    EXPECT_THAT(lines[0], HasSubstr("OpenGL, "));
    EXPECT_THAT(lines[0], ::testing::Not(HasSubstr("llvmpipe")));
  } else {
    EXPECT_THAT(lines[0], StartsWith("AI 3D back-end: CPU, "));
  }
}

TEST(KernelBackendChoice, ForcedByTheEnvironment) {
  setenv(kBackendEnvironmentVariable, "cpu", 1);
  std::vector<std::string> lines;
  BackendOptions options;
  options.log = [&](const std::string& line) { lines.push_back(line); };
  auto backend = makeKernelBackend(BackendChoice::Automatic, options);
  unsetenv(kBackendEnvironmentVariable);
  EXPECT_EQ(backend->kind(), BackendKind::Cpu);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], HasSubstr("forced by VISTRELLE_AI3D_BACKEND=cpu"));
}

}  // namespace
}  // namespace vistrelle::ai3d
