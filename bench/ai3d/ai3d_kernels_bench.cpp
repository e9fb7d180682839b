// Per-frame cost of the AI-3D map stage (filter, smoothing, stereo, two
// dilations, two blurs at 518 x 294) and of the eye views (3840 x 1080 from a
// 1920 x 1080 BGRA frame) on each back-end: p50/p95/p99 over 300 frames after
// 30 warm-up frames, C++ allocations per frame, and beside them the memory
// floor of the same run (a memcpy of the bytes the stage reads) as a ratio.
//
//   ai3d_kernels_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "ai3d/kernels/depth_map.h"
#include "ai3d/kernels/eye_view_compositor.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/kernels/orvex_dynamic_depth_filter.h"
#include "ai3d/kernels/stereo_generation_half.h"
#include "support/allocation_counter.h"
#include "support/percentiles.h"

namespace {

using namespace vistrelle::ai3d;
using vistrelle::bench::Percentiles;
using vistrelle::bench::percentiles;
using Clock = std::chrono::steady_clock;

constexpr int kWarmUp = 30;
constexpr int kFrames = 300;
constexpr int kMapWidth = 518, kMapHeight = 294;

template <class Frame>
void measure(benchmark::State& state, Frame&& frame, size_t floorBytes) {
  std::vector<double> times;
  long allocated = 0;
  std::vector<uint8_t> floorSource(floorBytes, 1), floorTarget(floorBytes);
  std::vector<double> floorTimes;
  for (auto _ : state) {
    for (int i = 0; i < kWarmUp; ++i) frame(i);
    times.clear();
    times.reserve(kFrames);
    floorTimes.clear();
    floorTimes.reserve(kFrames);
    const long before = (long)vistrelle::bench::allocationCount();
    for (int i = 0; i < kFrames; ++i) {
      const auto start = Clock::now();
      frame(kWarmUp + i);
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    allocated = vistrelle::bench::allocationCount() - before;
    for (int i = 0; i < kFrames; ++i) {
      const auto start = Clock::now();
      floorSource[size_t(i) % floorBytes] = uint8_t(i);
      std::memcpy(floorTarget.data(), floorSource.data(), floorBytes);
      benchmark::DoNotOptimize(floorTarget.data());
      floorTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  const Percentiles p = percentiles(times);
  const Percentiles floor = percentiles(floorTimes);
  state.counters["p50_ms"] = p.p50;
  state.counters["p95_ms"] = p.p95;
  state.counters["p99_ms"] = p.p99;
  state.counters["allocs_per_frame"] = double(allocated) / kFrames;
  state.counters["floor_p50_ms"] = floor.p50;
  state.counters["p50_over_floor"] = p.p50 / floor.p50;
}

KernelBackend* backendFor(BackendChoice choice, benchmark::State& state) {
  static std::unique_ptr<KernelBackend> cpu = makeCpuKernelBackend();
  static std::string reason;
  static std::unique_ptr<KernelBackend> gl = makeGlKernelBackend(&reason);
  KernelBackend* backend = choice == BackendChoice::Cpu ? cpu.get() : gl.get();
  if (backend == nullptr) {
    state.SkipWithError(("no OpenGL 4.3 context: " + reason).c_str());
  } else {
    state.SetLabel(backend->description());
  }
  return backend;
}

// Depth maps that move a little every frame, like a model's output.
std::vector<DepthMap> depthSequence() {
  std::vector<DepthMap> maps;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
  for (int f = 0; f < 8; ++f) {
    DepthMap map(kMapWidth, kMapHeight, MapFormat::Float16);
    auto halves = map.halves();
    for (int y = 0; y < kMapHeight; ++y) {
      for (int x = 0; x < kMapWidth; ++x) {
        const float base = 0.3f + 0.5f * float(x > 200 + 4 * f && x < 320 && y > 80 && y < 200);
        halves[size_t(y * kMapWidth + x)] = floatToHalf(base + noise(rng));
      }
    }
    maps.push_back(std::move(map));
  }
  return maps;
}

void MapStage(benchmark::State& state, BackendChoice choice) {
  KernelBackend* backend = backendFor(choice, state);
  if (backend == nullptr) return;
  const std::vector<DepthMap> inputs = depthSequence();
  double now = 0;
  OrvexDynamicDepthFilter filter(*backend, [&] { return now; });
  StereoGenerationHalf stereo(*backend);
  std::vector<uint16_t> readBack(size_t(kMapWidth) * kMapHeight);
  // The read-back of one eye map waits for the GPU to finish the stage.
  auto frame = [&](int i) {
    now += 33.0;
    auto smoothed = filter.apply(inputs[size_t(i) % inputs.size()].view(), 0.2f, 0.025f, 0.1f);
    if (auto maps = stereo.generate(smoothed, 0.2f, 600.0f, 0.01f)) {
      backend->read(*maps->left, readBack);
    }
  };
  // The passes read 10 maps in all (filter 2, smoothing 1, stereo 1,
  // dilation 2, blur 2 x 2) of f32 values.
  measure(state, frame, size_t(10) * kMapWidth * kMapHeight * sizeof(float));
}

void EyeViews(benchmark::State& state, BackendChoice choice) {
  KernelBackend* backend = backendFor(choice, state);
  if (backend == nullptr) return;
  const int frameWidth = 1920, frameHeight = 1080, outWidth = 3840, outHeight = 1080;
  std::vector<uint8_t> frame(size_t(frameWidth) * frameHeight * 4);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t((i * 2654435761u) >> 24);
  std::vector<uint8_t> out(size_t(outWidth) * outHeight * 4);
  const std::vector<DepthMap> inputs = depthSequence();
  auto left = backend->acquireMap(kMapWidth, kMapHeight);
  auto right = backend->acquireMap(kMapWidth, kMapHeight);
  backend->upload(inputs[0].view(), *left);
  backend->upload(inputs[1].view(), *right);
  EyeViewCompositor views(*backend);
  auto draw = [&](int) {
    views.drawSideBySide({frame.data(), frameWidth, frameHeight, 0}, *left, *right, 0.01f,
                         {out.data(), outWidth, outHeight, 0});
    benchmark::DoNotOptimize(out.data());
  };
  // The floor: writing the 3840 x 1080 output once from memory.
  measure(state, draw, out.size());
}

BENCHMARK_CAPTURE(MapStage, cpu, BackendChoice::Cpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MapStage, gl, BackendChoice::OpenGl)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EyeViews, cpu, BackendChoice::Cpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EyeViews, gl, BackendChoice::OpenGl)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
