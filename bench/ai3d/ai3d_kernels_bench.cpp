// Per-frame cost of the AI-3D map stage (filter, smoothing, stereo, two
// dilations, two blurs at 518 x 294) and of the eye views (3840 x 1080 from a
// 1920 x 1080 BGRA frame) on each back-end: p50/p95/p99 over 300 frames after
// 30 warm-up frames, C++ allocations per frame, and beside them a baseline of
// the same run: a plain copy of the bytes the stage reads (map stage) or
// writes (eye views), as a ratio. The machine's load average is reported
// with each line, since other work on it shows in every figure.
//
//   ai3d_kernels_bench --benchmark_counters_tabular=true
//   VISTRELLE_AI3D_BACKEND is not read here: the cpu and gl lines name their back-end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ai3d/kernels/cpu/cpu_kernel_backend.h"
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

double loadAverage() {
  std::ifstream in("/proc/loadavg");
  double oneMinute = 0;
  in >> oneMinute;
  return oneMinute;
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The frames of the stage, its allocations and the baseline copy, measured
// in one run.
template <class Frame>
void measure(benchmark::State& state, Frame&& frame, size_t floorBytes) {
  std::vector<double> times;
  long allocated = 0;
  std::vector<uint8_t> floorSource(floorBytes, 1), floorTarget(floorBytes);
  std::vector<double> floorTimes;
  for (auto _ : state) {
    state.counters["load"] = loadAverage();
    for (int i = 0; i < kWarmUp; ++i) frame(i);
    times.clear();
    times.reserve(kFrames);
    floorTimes.clear();
    floorTimes.reserve(kFrames);
    const long before = (long)vistrelle::bench::allocationCount();
    // Frames and copies alternate, so that both see the same machine.
    for (int i = 0; i < kFrames; ++i) {
      auto start = Clock::now();
      frame(kWarmUp + i);
      times.push_back(millisecondsSince(start));
      floorSource[size_t(i) % floorBytes] = uint8_t(i);
      start = Clock::now();
      std::memcpy(floorTarget.data(), floorSource.data(), floorBytes);
      benchmark::DoNotOptimize(floorTarget.data());
      floorTimes.push_back(millisecondsSince(start));
    }
    allocated = vistrelle::bench::allocationCount() - before;
  }
  const Percentiles p = percentiles(times);
  const Percentiles floor = percentiles(floorTimes);
  state.counters["p50_ms"] = p.p50;
  state.counters["p95_ms"] = p.p95;
  state.counters["p99_ms"] = p.p99;
  state.counters["allocs_per_frame"] = double(allocated) / kFrames;
  state.counters["copy_p50_ms"] = floor.p50;
  state.counters["p50_over_copy"] = p.p50 / floor.p50;
}

enum class Road { Cpu, CpuOneThread, CpuPortable, Gl };

KernelBackend* backendFor(Road road, benchmark::State& state) {
  static std::unique_ptr<KernelBackend> cpu = std::make_unique<CpuKernelBackend>(8);
  static std::unique_ptr<KernelBackend> single = std::make_unique<CpuKernelBackend>(1);
  static std::unique_ptr<KernelBackend> portable = std::make_unique<CpuKernelBackend>(8, false);
  static std::string reason;
  static std::unique_ptr<KernelBackend> gl = makeGlKernelBackend(&reason);
  KernelBackend* backend = road == Road::Cpu            ? cpu.get()
                           : road == Road::CpuOneThread ? single.get()
                           : road == Road::CpuPortable  ? portable.get()
                                                        : gl.get();
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
    DepthMap map(kMapWidth, kMapHeight, MapFormat::Float32);
    auto values = map.floats();
    for (int y = 0; y < kMapHeight; ++y) {
      for (int x = 0; x < kMapWidth; ++x) {
        const float base = 0.3f + 0.5f * float(x > 200 + 4 * f && x < 320 && y > 80 && y < 200);
        values[size_t(y * kMapWidth + x)] = base + noise(rng);
      }
    }
    maps.push_back(std::move(map));
  }
  return maps;
}

void MapStage(benchmark::State& state, Road road) {
  KernelBackend* backend = backendFor(road, state);
  if (backend == nullptr) return;
  const std::vector<DepthMap> inputs = depthSequence();
  double now = 0;
  OrvexDynamicDepthFilter filter(*backend, [&] { return now; });
  StereoGenerationHalf stereo(*backend);
  std::vector<uint16_t> readBack(size_t(kMapWidth) * kMapHeight);
  std::vector<double> filterTimes, mapTimes;
  filterTimes.reserve(kWarmUp + kFrames);
  mapTimes.reserve(kWarmUp + kFrames);
  // The model's f32 output in, as the pipeline gives it; the read-back of
  // one eye map waits for a GPU to finish the stage.
  auto frame = [&](int i) {
    now += 33.0;
    KernelBackend::Batch batch(*backend);
    auto start = Clock::now();
    auto smoothed = filter.apply(inputs[size_t(i) % inputs.size()].view(), 0.2f, 0.025f, 0.1f);
    filterTimes.push_back(millisecondsSince(start));
    start = Clock::now();
    if (auto maps = stereo.generate(smoothed, 0.2f, 600.0f, 0.01f)) {
      backend->read(*maps->left, readBack);
    }
    mapTimes.push_back(millisecondsSince(start));
  };
  // The passes read 10 maps in all (filter 2, smoothing 1, stereo 1,
  // dilation 2, blur 2 x 2) of f32 values.
  measure(state, frame, size_t(10) * kMapWidth * kMapHeight * sizeof(float));
  state.counters["filter_p50_ms"] = percentiles(filterTimes).p50;
  state.counters["eye_maps_p50_ms"] = percentiles(mapTimes).p50;
}

void EyeViews(benchmark::State& state, Road road) {
  KernelBackend* backend = backendFor(road, state);
  if (backend == nullptr) return;
  const int frameWidth = 1920, frameHeight = 1080, outWidth = 3840, outHeight = 1080;
  std::vector<uint8_t> frame(size_t(frameWidth) * frameHeight * 4);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t((i * 2654435761u) >> 24);
  // The window's surface: page-aligned as a real one is.
  const size_t outBytes = size_t(outWidth) * outHeight * 4;
  std::unique_ptr<uint8_t, decltype(&std::free)> out(
      static_cast<uint8_t*>(std::aligned_alloc(4096, outBytes)), &std::free);
  const std::vector<DepthMap> inputs = depthSequence();
  auto left = backend->acquireMap(kMapWidth, kMapHeight);
  auto right = backend->acquireMap(kMapWidth, kMapHeight);
  backend->upload(inputs[0].view(), *left);
  backend->upload(inputs[1].view(), *right);
  EyeViewCompositor views(*backend);
  auto draw = [&](int) {
    views.drawSideBySide({frame.data(), frameWidth, frameHeight, 0}, *left, *right, 0.01f,
                         {out.get(), outWidth, outHeight, 0});
    benchmark::DoNotOptimize(out.get());
  };
  // The baseline: a plain copy of the 3840 x 1080 output bytes.
  measure(state, draw, outBytes);
}

BENCHMARK_CAPTURE(MapStage, cpu, Road::Cpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MapStage, cpu_portable, Road::CpuPortable)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MapStage, cpu_1_thread, Road::CpuOneThread)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(MapStage, gl, Road::Gl)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EyeViews, cpu, Road::Cpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EyeViews, cpu_portable, Road::CpuPortable)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EyeViews, cpu_1_thread, Road::CpuOneThread)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EyeViews, gl, Road::Gl)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
