// The filter and the stereo generator driven from several threads on the CPU
// back-end, as the pipeline does (frames on one thread, reset and tuning from
// another).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ai3d/kernels/cpu/cpu_kernel_backend.h"
#include "ai3d/kernels/depth_map.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/orvex_dynamic_depth_filter.h"
#include "ai3d/kernels/stereo_generation_half.h"

namespace vistrelle::ai3d {
namespace {

TEST(CpuPipelineThreadsTest, FramesResetsAndTuningFromOtherThreads) {
  CpuKernelBackend backend(3);
  OrvexDynamicDepthFilter filter(backend);
  StereoGenerationHalf stereo(backend);
  DepthMap map(40, 24, MapFormat::Float16);
  for (auto& h : map.halves()) h = floatToHalf(0.5f);
  std::atomic<bool> done{false};
  std::thread control([&] {
    while (!done.load()) {
      filter.reset();
      filter.alpha = 0.2f;
      filter.eta = 0.03f;
      std::this_thread::yield();
    }
  });
  int produced = 0;
  for (int frame = 0; frame < 100; ++frame) {
    auto smoothed = filter.apply(map.view());
    if (auto maps = stereo.generate(smoothed, 0.2f, 600.0f, 0.01f)) ++produced;
  }
  done = true;
  control.join();
  EXPECT_EQ(produced, 99);
}

}  // namespace
}  // namespace vistrelle::ai3d
