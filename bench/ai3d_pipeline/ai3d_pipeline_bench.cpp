// The whole per-frame AI-3D road without capture: a 1920 x 1080 BGRA frame
// in, through the pipeline driver (scaler, depth model, temporal filter,
// stereo generation) to the two eye views, which draw the 3840 x 1080
// side-by-side picture, on the CPU kernel back-end.
//
//   Road/stand_in   the carried stand-in model on OpenCV DNN
//   Road/fixed_map  the model replaced by a fixed map, so the model's share shows
//   SlowModel       a 200 ms model fed at 30 frames/s on real queues: latency
//                   from capture to the views, which must stay one frame plus
//                   the model and never grow
//
// Each road reports p50/p95/p99 over 300 frames after 30 warm-up frames,
// the model's own p50, C++ allocations per frame (the DNN library's apart
// from ours), a baseline of the same run (a plain copy of the bytes a frame
// reads and writes), the machine's load and the RSS before and after 3000
// further frames.
//
//   ai3d_pipeline_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "ai3d/kernels/kernel_backend_factory.h"
#include "ai3d/pipeline/compositor_eye_view_factory.h"
#include "ai3d/pipeline/depth_model_holder.h"
#include "ai3d/pipeline/metal_pixel_buffer_scaler.h"
#include "ai3d/pipeline/orvex_depth_3d_view_controller.h"
#ifdef VISTRELLE_HAVE_XCB
#include "platform/capture/linux/xcb_screen_grabber.h"
#endif
#include "platform/dispatch/clock.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/inference/fake/fake_depth_network.h"
#include "platform/inference/linux/opencv_depth_network.h"
#include "support/allocation_counter.h"
#include "support/percentiles.h"
#include "tools/model_pack/model_packer.h"

namespace {

using namespace vistrelle;
using namespace vistrelle::ai3d;
using vistrelle::bench::Percentiles;
using vistrelle::bench::percentiles;
using Clock = std::chrono::steady_clock;

constexpr int kWarmUp = 30;
constexpr int kFrames = 300;
constexpr int kRssFrames = 3000;
// Set VISTRELLE_BENCH_QUICK=1 to skip the 3000-frame RSS runs.
int rssFrames() {
  return std::getenv("VISTRELLE_BENCH_QUICK") ? 0 : kRssFrames;
}
constexpr int kFrameW = 1920, kFrameH = 1080;

double rssMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

std::vector<std::shared_ptr<capture::CaptureFrame>> syntheticFrames() {
  std::vector<std::shared_ptr<capture::CaptureFrame>> frames;
  for (int f = 0; f < 3; ++f) {
    auto frame = std::make_shared<capture::CaptureFrame>(kFrameW, kFrameH);
    for (int y = 0; y < kFrameH; ++y) {
      uint8_t* row = frame->row(y);
      for (int x = 0; x < kFrameW; ++x) {
        const bool box = std::abs(x - 700 - 40 * f) < 200 && std::abs(y - 600) < 150;
        row[4 * x + 0] = static_cast<uint8_t>(box ? 230 : (x + y) / 12);
        row[4 * x + 1] = static_cast<uint8_t>(box ? 220 : y / 5);
        row[4 * x + 2] = static_cast<uint8_t>(box ? 210 : x / 8);
        row[4 * x + 3] = 255;
      }
    }
    frames.push_back(frame);
  }
  return frames;
}

std::unique_ptr<inference::DepthNetwork> standInNetwork() {
  std::string reason;
  auto network = inference::OpenCvDepthNetwork::load(
      tools::readFile(VISTRELLE_MODEL_DIR "/model.onnx"), {}, &reason);
  if (!network) std::fprintf(stderr, "stand-in model: %s\n", reason.c_str());
  return network;
}

std::unique_ptr<inference::DepthNetwork> fixedMapNetwork(std::chrono::milliseconds delay) {
  auto network = std::make_unique<inference::FakeDepthNetwork>();
  network->setFill([](int x, int y, const inference::ImageInput&) {
    return static_cast<float>(y) + 0.25f * static_cast<float>(x % 64);
  });
  network->setDelay(delay);
  return network;
}

// Times the network's runs and counts the allocations made inside them,
// which belong to the DNN library.
class MeasuredNetwork : public inference::DepthNetwork {
 public:
  explicit MeasuredNetwork(std::unique_ptr<inference::DepthNetwork> inner)
      : inner_(std::move(inner)) {
    times.reserve(4096);
  }
  std::string description() const override { return inner_->description(); }
  inference::TensorOutput run(const inference::ImageInput& image) override {
    const uint64_t before = vistrelle::bench::allocationCount();
    const auto start = Clock::now();
    inference::TensorOutput out = inner_->run(image);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (times.size() < times.capacity()) times.push_back(ms);
    allocations += vistrelle::bench::allocationCount() - before;
    return out;
  }
  std::vector<double> times;
  uint64_t allocations = 0;

 private:
  std::unique_ptr<inference::DepthNetwork> inner_;
};

double loadAverage() {
  std::ifstream in("/proc/loadavg");
  double oneMinute = 0;
  in >> oneMinute;
  return oneMinute;
}

// The driver on queues run by this thread, so one frame's whole road is
// measured synchronously.
void Road(benchmark::State& state, bool standIn) {
  auto backend = makeCpuKernelBackend(0);
  auto manager = std::make_shared<DepthModelHolder>();
  auto inner = standIn ? standInNetwork() : fixedMapNetwork({});
  if (!inner) {
    state.SkipWithError("no model");
    return;
  }
  auto measured = std::make_unique<MeasuredNetwork>(std::move(inner));
  MeasuredNetwork* network = measured.get();
  manager->setModel(std::make_shared<DepthModel>(std::move(measured), [](const std::string&) {}));
  manager->setScaler(MetalPixelBufferScaler::create(nullptr));
  // The two eye views over one 3840 x 1080 picture, as on the glasses.
  CompositorEyeViewFactory views(*backend, kFrameW, kFrameH);
  auto main = std::make_shared<dispatch::VirtualExecutor>();
  auto depthQueue = std::make_shared<dispatch::VirtualExecutor>();
  OrvexDepth3DViewController::Environment env;
  env.backend = backend.get();
  env.viewFactory = &views;
  env.glassStatus = [] { return true; };
  env.modelType = [] { return 2; };
  env.depthValue = [] { return 0.01f; };
  env.depthManager = [manager] { return manager; };
  env.mainQueue = main;
  env.depthBufferQueue = depthQueue;
  env.makeCaptureRecord = [] { return std::unique_ptr<OrvexScreenCaptureRecord>(); };
  env.log = [](const std::string&) {};
  OrvexDepth3DViewController controller(env);
  controller.viewDidLoad();
  controller.setDynamicFilterParameters();
  state.SetLabel(backend->description() + ", model: " + network->description());

  const auto frames = syntheticFrames();
  auto frame = [&](int i) {
    controller.onCapturedFrame(frames[static_cast<size_t>(i) % frames.size()], 0);
    depthQueue->runUntilIdle();
    main->runUntilIdle();
  };

  const size_t floorBytes = frames[0]->byteCount() + static_cast<size_t>(2 * kFrameW) * kFrameH * 4;
  std::vector<uint8_t> floorSource(floorBytes, 1), floorTarget(floorBytes);
  for (auto _ : state) {
    state.counters["load"] = loadAverage();
    for (int i = 0; i < kWarmUp; ++i) frame(i);
    std::vector<double> times, floorTimes;
    times.reserve(kFrames);
    floorTimes.reserve(kFrames);
    network->times.clear();
    const uint64_t dnnBefore = network->allocations;
    const uint64_t before = vistrelle::bench::allocationCount();
    for (int i = 0; i < kFrames; ++i) {
      auto start = Clock::now();
      frame(kWarmUp + i);
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      start = Clock::now();
      std::memcpy(floorTarget.data(), floorSource.data(), floorBytes);
      benchmark::DoNotOptimize(floorTarget.data());
      floorTimes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const uint64_t allocated = vistrelle::bench::allocationCount() - before;
    const uint64_t dnn = network->allocations - dnnBefore;
    const Percentiles model = percentiles(network->times);
    const double rssBefore = rssMiB();
    for (int i = 0; i < rssFrames(); ++i) frame(i);
    const double rssAfter = rssMiB();

    const Percentiles p = percentiles(times);
    const Percentiles floor = percentiles(floorTimes);
    state.counters["p50_ms"] = p.p50;
    state.counters["p95_ms"] = p.p95;
    state.counters["p99_ms"] = p.p99;
    state.counters["model_p50_ms"] = model.p50;
    state.counters["copy_p50_ms"] = floor.p50;
    state.counters["p50_over_copy"] = p.p50 / floor.p50;
    state.counters["our_allocs_per_frame"] = static_cast<double>(allocated - dnn) / kFrames;
    state.counters["dnn_allocs_per_frame"] = static_cast<double>(dnn) / kFrames;
    state.counters["rss_MiB"] = rssBefore;
    state.counters["rss_growth_MiB"] = rssAfter - rssBefore;
    state.counters["drawn"] = static_cast<double>(views.canvas().compositorCalls());
  }
}

// Records how old each frame is when its views draw it.
class LatencyView : public EyeView {
 public:
  bool isRightEye() const override { return false; }
  void setTextures(capture::CaptureFramePtr bgra, std::shared_ptr<const KernelMap>,
                   std::shared_ptr<const KernelMap>) override {
    bgra_ = std::move(bgra);
  }
  void setDepthValue(float) override {}
  void draw() override {
    if (!bgra_) return;
    const auto age = dispatch::SteadyClock::monotonicNow() - bgra_->timestamp();
    std::lock_guard lock(mutex_);
    latencies.push_back(std::chrono::duration<double, std::milli>(age).count());
  }
  std::mutex mutex_;
  std::vector<double> latencies;

 private:
  capture::CaptureFramePtr bgra_;
};

class LatencyFactory : public EyeViewFactory {
 public:
  std::shared_ptr<EyeView> makeView(bool) override { return view; }
  std::unique_ptr<FrameTextureCache> makeTextureCache(std::string* reason) override {
    return fallback.makeTextureCache(reason);
  }
  std::shared_ptr<LatencyView> view = std::make_shared<LatencyView>();
  std::unique_ptr<KernelBackend> dummy = makeCpuKernelBackend(1);
  CompositorEyeViewFactory fallback{*dummy, 1, 1};
};

void SlowModel(benchmark::State& state) {
  auto backend = makeCpuKernelBackend(0);
  auto pool = std::make_shared<dispatch::ThreadPool>(3);
  auto manager = std::make_shared<DepthModelHolder>();
  manager->setModel(std::make_shared<DepthModel>(fixedMapNetwork(std::chrono::milliseconds(200)),
                                                 [](const std::string&) {}));
  manager->setScaler(
      MetalPixelBufferScaler::create(dispatch::SerialQueue::create("completion", pool)));
  LatencyFactory views;
  OrvexDepth3DViewController::Environment env;
  env.backend = backend.get();
  env.viewFactory = &views;
  env.glassStatus = [] { return true; };
  env.modelType = [] { return 2; };
  env.depthValue = [] { return 0.01f; };
  env.depthManager = [manager] { return manager; };
  env.mainQueue = dispatch::SerialQueue::create("main", pool);
  env.depthBufferQueue =
      dispatch::SerialQueue::create(OrvexDepth3DViewController::kDepthBufferQueueLabel, pool);
  env.makeCaptureRecord = [] { return std::unique_ptr<OrvexScreenCaptureRecord>(); };
  env.log = [](const std::string&) {};
  OrvexDepth3DViewController controller(env);
  controller.viewDidLoad();

  capture::CaptureFramePool frames(5);
  for (auto _ : state) {
    double rssBefore = 0;
    const auto start = Clock::now();
    int dropped = 0;
    for (int i = 0; i < 150; ++i) {  // 5 s at 30 frames/s
      std::this_thread::sleep_until(start + std::chrono::microseconds(33333) * i);
      if (i == 30) rssBefore = rssMiB();  // the frame pool is full by now
      auto frame = frames.acquire(kFrameW, kFrameH);
      if (!frame) {
        ++dropped;
        continue;
      }
      frame->setTimestamp(dispatch::SteadyClock::monotonicNow());
      controller.onCapturedFrame(frame, 0);
    }
    controller.waitUntilIdle();
    env.mainQueue->sync([] {});
    std::vector<double> latencies;
    {
      std::lock_guard lock(views.view->mutex_);
      latencies = views.view->latencies;
    }
    const Percentiles p = percentiles(latencies);
    const size_t half = latencies.size() / 2;
    double early = 0, late = 0;
    for (size_t i = 0; i < half; ++i) early += latencies[i];
    for (size_t i = half; i < latencies.size(); ++i) late += latencies[i];
    state.counters["latency_p50_ms"] = p.p50;
    state.counters["latency_p99_ms"] = p.p99;
    state.counters["first_half_mean_ms"] = early / static_cast<double>(std::max<size_t>(half, 1));
    state.counters["second_half_mean_ms"] =
        late / static_cast<double>(std::max<size_t>(latencies.size() - half, 1));
    state.counters["presented"] = static_cast<double>(latencies.size());
    state.counters["replaced"] = static_cast<double>(controller.counters().replaced);
    state.counters["pool_dry"] = dropped;
    state.counters["rss_growth_MiB"] = rssMiB() - rssBefore;
  }
}

// One capture of a 1920 x 1080 X display with the cursor, as the capture
// record makes 30 times a second: time and C++ allocations per grab (libxcb
// mallocs its replies itself: the image's and the pointer's). Needs $DISPLAY
// (scripts/xvfb-lib.sh starts one).
void Grab(benchmark::State& state) {
#ifndef VISTRELLE_HAVE_XCB
  state.SkipWithError("built without X11 capture");
  return;
#else
  std::string reason;
  auto grabber = capture::XcbScreenGrabber::connect(nullptr, &reason);
  if (!grabber || !grabber->open(grabber->mainDisplayId(), /*showCursor=*/true, &reason)) {
    state.SkipWithError(("no X display to capture: " + reason).c_str());
    return;
  }
  for (int i = 0; i < 10; ++i) grabber->grab(&reason);  // the pool and the cursor image
  const uint64_t before = vistrelle::bench::allocationCount();
  int64_t grabs = 0;
  for (auto _ : state) {
    auto frame = grabber->grab(&reason);
    if (!frame) {
      state.SkipWithError(reason.c_str());
      return;
    }
    ++grabs;
  }
  state.counters["allocs_per_grab"] =
      static_cast<double>(vistrelle::bench::allocationCount() - before) /
      static_cast<double>(grabs);
  state.counters["load"] = loadAverage();
#endif
}

// The scaler alone: 1920 x 1080 to the model's 518 x 294.
void Scale(benchmark::State& state) {
  capture::CaptureFrame source(kFrameW, kFrameH), target(518, 294);
  for (auto _ : state) {
    MetalPixelBufferScaler::scale(source, target);
    benchmark::DoNotOptimize(target.data());
  }
}

BENCHMARK(Scale)->Unit(benchmark::kMicrosecond);
BENCHMARK(Grab)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Road, stand_in, true)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Road, fixed_map, false)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SlowModel)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
