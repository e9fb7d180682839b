// The AVX2 and the portable roads of the CPU back-end, and the fused eye
// maps against the kernels one by one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ai3d/kernels/cpu/cpu_features.h"
#include "ai3d/kernels/cpu/cpu_kernel_backend.h"
#include "ai3d/kernels/depth_map.h"
#include "ai3d/kernels/half_float.h"

namespace vistrelle::ai3d {
namespace {

DepthMap randomDepth(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(0.0f, 1.0f);
  DepthMap map(width, height, MapFormat::Float16);
  for (auto& h : map.halves()) h = floatToHalf(dist(rng));
  // A near block with hard edges, where the smoothing and the shift matter.
  for (int y = height / 3; y < height / 2; ++y) {
    for (int x = width / 3; x < width / 2; ++x)
      map.halves()[size_t(y * width + x)] = floatToHalf(0.9f);
  }
  return map;
}

std::vector<float> valuesOf(KernelBackend& backend, const KernelMap& map) {
  std::vector<uint16_t> halves(size_t(map.width()) * size_t(map.height()));
  backend.read(map, halves);
  std::vector<float> out(halves.size());
  for (size_t i = 0; i < halves.size(); ++i) out[i] = halfToFloat(halves[i]);
  return out;
}

std::shared_ptr<KernelMap> uploaded(KernelBackend& backend, const DepthMap& map) {
  auto m = backend.acquireMap(map.width(), map.height());
  backend.upload(map.view(), *m);
  return m;
}

TEST(CpuEyeMaps, FusedPassesEqualTheKernelsOneByOne) {
  CpuKernelBackend backend(4);
  for (const auto& [w, h] : {std::pair{518, 294}, std::pair{37, 13}, std::pair{9, 40}}) {
    const DepthMap input = randomDepth(w, h, 5);
    auto depth = uploaded(backend, input);
    const StereoParams params = makeStereoParams(600.0f, 0.2f, w, h, 0.015f);
    auto left = backend.acquireMap(w, h), right = backend.acquireMap(w, h);
    backend.eyeMaps(*depth, *left, *right, params);

    auto smoothed = backend.acquireMap(w, h), l = backend.acquireMap(w, h),
         r = backend.acquireMap(w, h), dilated = backend.acquireMap(w, h),
         blurred = backend.acquireMap(w, h);
    backend.depthSmoothing(*depth, *smoothed, params);
    backend.stereoGeneration(*smoothed, *l, *r, params);
    backend.diskDilate(*l, *dilated);
    backend.gaussianBlur(*dilated, *blurred);
    EXPECT_EQ(valuesOf(backend, *left), valuesOf(backend, *blurred)) << w << "x" << h;
    backend.diskDilate(*r, *dilated);
    backend.gaussianBlur(*dilated, *blurred);
    EXPECT_EQ(valuesOf(backend, *right), valuesOf(backend, *blurred)) << w << "x" << h;
  }
}

class SimdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!cpuHasAvx2()) GTEST_SKIP() << "no AVX2 here: only the portable road runs";
    ASSERT_TRUE(simd_.usesSimd());
    ASSERT_FALSE(portable_.usesSimd());
  }
  CpuKernelBackend simd_{3, true};
  CpuKernelBackend portable_{3, false};
};

TEST_F(SimdTest, MapsAgreeWithinHalfPrecision) {
  const DepthMap input = randomDepth(518, 294, 9);
  const StereoParams params = makeStereoParams(600.0f, 0.2f, 518, 294, 0.01f);
  std::vector<float> maps[2][2];
  CpuKernelBackend* backends[2] = {&simd_, &portable_};
  for (int b = 0; b < 2; ++b) {
    auto depth = uploaded(*backends[b], input);
    auto left = backends[b]->acquireMap(518, 294), right = backends[b]->acquireMap(518, 294);
    backends[b]->eyeMaps(*depth, *left, *right, params);
    maps[b][0] = valuesOf(*backends[b], *left);
    maps[b][1] = valuesOf(*backends[b], *right);
  }
  for (int eye = 0; eye < 2; ++eye) {
    int bad = 0;
    for (size_t i = 0; i < maps[0][eye].size() && bad < 5; ++i) {
      const float a = maps[0][eye][i], b = maps[1][eye][i];
      // One rounding of the half apart at most, or less than 1e-3.
      const float step = std::ldexp(1.0f, int(std::floor(std::log2(std::fabs(b) + 1e-30f))) - 10);
      if (!(std::fabs(a - b) <= std::max(2 * step, 1e-3f))) {
        ++bad;
        ADD_FAILURE() << "eye " << eye << " at " << i << ": AVX2 " << a << ", portable " << b;
      }
    }
  }
}

TEST_F(SimdTest, StereoAndFilterAreTheSameBits) {
  const DepthMap a = randomDepth(518, 294, 21), b = randomDepth(518, 294, 22);
  std::vector<float> results[2][3];
  CpuKernelBackend* backends[2] = {&simd_, &portable_};
  for (int k = 0; k < 2; ++k) {
    auto depth = uploaded(*backends[k], a);
    auto previous = uploaded(*backends[k], b);
    auto left = backends[k]->acquireMap(518, 294), right = backends[k]->acquireMap(518, 294),
         filtered = backends[k]->acquireMap(518, 294);
    backends[k]->stereoGeneration(*depth, *left, *right,
                                  makeStereoParams(600.0f, 0.2f, 518, 294, 0.05f));
    backends[k]->dynamicDepthFilter(*depth, *previous, *filtered, {0.2f, 0.025f, 0.1f, 33.0f});
    results[k][0] = valuesOf(*backends[k], *left);
    results[k][1] = valuesOf(*backends[k], *right);
    results[k][2] = valuesOf(*backends[k], *filtered);
  }
  EXPECT_EQ(results[0][0], results[1][0]) << "left map";
  EXPECT_EQ(results[0][1], results[1][1]) << "right map";
  EXPECT_EQ(results[0][2], results[1][2]) << "filter";
}

TEST_F(SimdTest, EyeViewsAreTheSameBits) {
  const DepthMap input = randomDepth(518, 294, 11);
  struct Case {
    int frameW, frameH, outW, outH;
  };
  for (const Case c :
       {Case{1920, 1080, 3840, 1080}, Case{3024, 1964, 3840, 1080}, Case{333, 201, 1002, 299}}) {
    std::vector<uint8_t> frame(size_t(c.frameW) * c.frameH * 4);
    std::mt19937 rng(3);
    for (auto& byte : frame) byte = uint8_t(rng());
    std::vector<uint8_t> pictures[2];
    CpuKernelBackend* backends[2] = {&simd_, &portable_};
    for (int b = 0; b < 2; ++b) {
      auto left = uploaded(*backends[b], input);
      auto right = uploaded(*backends[b], randomDepth(518, 294, 12));
      pictures[b].assign(size_t(c.outW) * c.outH * 4, 0xAB);
      const int half = c.outW / 2;
      const EyeDraw draws[2] = {{0, 0, half, c.outH, -0.015f},
                                {half, 0, c.outW - half, c.outH, 0.015f}};
      backends[b]->drawEyes({frame.data(), c.frameW, c.frameH, 0}, *left, *right, draws,
                            {pictures[b].data(), c.outW, c.outH, 0});
    }
    EXPECT_EQ(pictures[0], pictures[1])
        << c.frameW << "x" << c.frameH << " into " << c.outW << "x" << c.outH;
  }
}

}  // namespace
}  // namespace vistrelle::ai3d
