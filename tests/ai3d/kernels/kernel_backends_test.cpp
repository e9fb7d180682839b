// Each kernel on each back-end against the per-pixel reference.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "ai3d/kernels/backend_fixture.h"
#include "ai3d/kernels/stereo_generation_half.h"

namespace vistrelle::ai3d {
namespace {

using testing::BackendTest;
using testing::Plane;

struct Size {
  int width, height;
};
const Size kSizes[] = {{1, 1}, {17, 33}, {518, 294}};

class KernelBackendTest : public BackendTest {
 protected:
  // |diff| <= 2 half-ulp + 1e-3, every pixel written.
  static void expectClose(const Plane& got, const Plane& want, const char* what) {
    ASSERT_EQ(got.values.size(), want.values.size());
    int bad = 0;
    for (size_t i = 0; i < got.values.size() && bad < 5; ++i) {
      const float tolerance = 2 * testing::halfUlp(want.values[i]) + 1e-3f;
      if (!(std::fabs(got.values[i] - want.values[i]) <= tolerance)) {
        ++bad;
        ADD_FAILURE() << what << " at (" << i % size_t(got.width) << ", " << i / size_t(got.width)
                      << ") of " << testing::describeSize(got.width, got.height) << ": got "
                      << got.values[i] << ", want " << want.values[i];
      }
    }
  }
  static void expectExact(const Plane& got, const Plane& want, const char* what) {
    ASSERT_EQ(got.values.size(), want.values.size());
    int bad = 0;
    for (size_t i = 0; i < got.values.size() && bad < 5; ++i) {
      if (!(got.values[i] == want.values[i])) {
        ++bad;
        ADD_FAILURE() << what << " at (" << i % size_t(got.width) << ", " << i / size_t(got.width)
                      << ") of " << testing::describeSize(got.width, got.height) << ": got "
                      << got.values[i] << ", want " << want.values[i];
      }
    }
  }
};

TEST_P(KernelBackendTest, DynamicDepthFilterMatchesReference) {
  uint32_t seed = 1;
  for (const Size s : kSizes) {
    const Plane current = testing::randomPlane(s.width, s.height, seed++);
    // The previous map close to the current one, so both blend branches occur.
    Plane previous = current;
    const Plane noise = testing::randomPlane(s.width, s.height, seed++, -0.08f, 0.08f);
    for (size_t i = 0; i < previous.values.size(); ++i) {
      previous.values[i] = roundToHalf(previous.values[i] + noise.values[i]);
    }
    for (const DynamicFilterParams params : {DynamicFilterParams{0.2f, 0.025f, 0.1f, 33.0f},
                                             DynamicFilterParams{0.05f, 0.2f, 0.05f, 16.0f},
                                             DynamicFilterParams{1.0f, 0.0f, 0.5f, 500.0f}}) {
      auto c = testing::upload(backend(), current);
      auto p = testing::upload(backend(), previous);
      auto out = testing::poisoned(backend(), s.width, s.height);
      backend().dynamicDepthFilter(*c, *p, *out, params);
      expectClose(testing::readBack(backend(), *out),
                  reference::dynamicDepthFilter(current, previous, params), "filter");
    }
  }
}

TEST_P(KernelBackendTest, DynamicDepthFilterNonFiniteInputs) {
  Plane current = testing::randomPlane(17, 33, 7);
  Plane previous = testing::randomPlane(17, 33, 8);
  current.ref(3, 4) = std::nanf("");
  current.ref(10, 20) = INFINITY;
  previous.ref(5, 5) = std::nanf("");
  const DynamicFilterParams params{0.2f, 0.025f, 0.1f, 16.0f};
  auto c = testing::upload(backend(), current);
  auto p = testing::upload(backend(), previous);
  auto out = testing::poisoned(backend(), 17, 33);
  backend().dynamicDepthFilter(*c, *p, *out, params);
  const Plane got = testing::readBack(backend(), *out);
  EXPECT_EQ(got.at(3, 4), previous.at(3, 4));
  EXPECT_EQ(got.at(10, 20), previous.at(10, 20));
  EXPECT_EQ(got.at(5, 5), current.at(5, 5));
  // Neighbours of the NaN are still finite and follow the reference.
  expectClose(got, reference::dynamicDepthFilter(current, previous, params), "filter");
}

TEST_P(KernelBackendTest, DepthSmoothingMatchesReference) {
  uint32_t seed = 20;
  for (const Size s : kSizes) {
    const Plane depth = testing::randomPlane(s.width, s.height, seed++);
    for (float depthValue : {0.0f, 0.01f}) {
      StereoParams params = makeStereoParams(600.0f, 0.2f, s.width, s.height, depthValue);
      auto d = testing::upload(backend(), depth);
      auto out = testing::poisoned(backend(), s.width, s.height);
      backend().depthSmoothing(*d, *out, params);
      expectClose(testing::readBack(backend(), *out), reference::depthSmoothing(depth, params),
                  "smoothing");
    }
  }
}

TEST_P(KernelBackendTest, DepthSmoothingSkipsNonFiniteDepths) {
  Plane depth = testing::randomPlane(17, 33, 30);
  depth.ref(5, 5) = std::nanf("");
  depth.ref(12, 20) = INFINITY;
  const StereoParams params = makeStereoParams(600.0f, 0.2f, 17, 33, 0.01f);
  auto d = testing::upload(backend(), depth);
  auto out = testing::poisoned(backend(), 17, 33);
  backend().depthSmoothing(*d, *out, params);
  const Plane got = testing::readBack(backend(), *out);
  EXPECT_TRUE(std::isnan(got.at(5, 5)));
  EXPECT_EQ(got.at(12, 20), INFINITY);
  Plane finiteOnly = got;
  finiteOnly.ref(5, 5) = 0;
  finiteOnly.ref(12, 20) = 0;
  Plane want = reference::depthSmoothing(depth, params);
  want.ref(5, 5) = 0;
  want.ref(12, 20) = 0;
  expectClose(finiteOnly, want, "smoothing next to non-finite depths");
}

// Values whose reach kw*v + 0.5 lies within 1e-3 of a whole pixel are moved
// away from it, so that exactness does not hang on a rounding coin-toss.
Plane stereoFixture(int width, int height, uint32_t seed, float kw) {
  Plane p = testing::randomPlane(width, height, seed);
  for (float& v : p.values) {
    for (;;) {
      const float reach = kw * v + 0.5f;
      if (std::fabs(reach - std::round(reach)) > 1e-3f) break;
      v = roundToHalf(v + 0.002f);
    }
  }
  return p;
}

TEST_P(KernelBackendTest, StereoGenerationMatchesReferenceExactly) {
  uint32_t seed = 40;
  for (const Size s : kSizes) {
    for (float depthValue : {0.0f, 0.005f, 0.015f, 0.05f}) {
      const StereoParams params = makeStereoParams(600.0f, 0.2f, s.width, s.height, depthValue);
      const Plane depth = stereoFixture(s.width, s.height, seed++, depthValue * float(s.width));
      auto d = testing::upload(backend(), depth);
      auto left = testing::poisoned(backend(), s.width, s.height);
      auto right = testing::poisoned(backend(), s.width, s.height);
      backend().stereoGeneration(*d, *left, *right, params);
      const auto want = reference::stereoGeneration(depth, params);
      expectExact(testing::readBack(backend(), *left), want.left, "left map");
      expectExact(testing::readBack(backend(), *right), want.right, "right map");
    }
  }
}

TEST_P(KernelBackendTest, StereoWithNonFiniteValuesMatchesReferenceExactly) {
  // An infinite value reaches every step; a NaN reaches none and stays put.
  Plane depth = stereoFixture(64, 4, 45, 0.01f * 64);
  depth.ref(10, 1) = INFINITY;
  depth.ref(30, 2) = std::nanf("");
  for (int x = 0; x < 64; ++x) depth.ref(x, 3) = std::nanf("");
  const StereoParams params = makeStereoParams(600.0f, 0.2f, 64, 4, 0.01f);
  auto d = testing::upload(backend(), depth);
  auto left = testing::poisoned(backend(), 64, 4);
  auto right = testing::poisoned(backend(), 64, 4);
  backend().stereoGeneration(*d, *left, *right, params);
  const auto want = reference::stereoGeneration(depth, params);
  const Plane l = testing::readBack(backend(), *left), r = testing::readBack(backend(), *right);
  for (size_t i = 0; i < l.values.size(); ++i) {
    const bool nanWanted = std::isnan(want.left.values[i]);
    EXPECT_EQ(std::isnan(l.values[i]), nanWanted) << i;
    if (!nanWanted) {
      EXPECT_EQ(l.values[i], want.left.values[i]) << i;
    }
    EXPECT_EQ(std::isnan(r.values[i]), std::isnan(want.right.values[i])) << i;
    if (!std::isnan(want.right.values[i])) {
      EXPECT_EQ(r.values[i], want.right.values[i]) << i;
    }
  }
  EXPECT_EQ(l.at(40, 1), INFINITY) << "infinity reaches the whole window";
}

TEST_P(KernelBackendTest, StereoWithZeroDepthValueCopiesTheMap) {
  const Plane depth = testing::randomPlane(17, 33, 50);
  auto d = testing::upload(backend(), depth);
  auto left = testing::poisoned(backend(), 17, 33);
  auto right = testing::poisoned(backend(), 17, 33);
  backend().stereoGeneration(*d, *left, *right, makeStereoParams(600.0f, 0.2f, 17, 33, 0.0f));
  expectExact(testing::readBack(backend(), *left), depth, "left map");
  expectExact(testing::readBack(backend(), *right), depth, "right map");
}

TEST_P(KernelBackendTest, NearSquareExtendsRightInLeftMapAndLeftInRightMap) {
  // Background 0.1, a square of 0.8 at columns 40..59, rows 10..19.
  const int width = 120, height = 30;
  Plane depth(width, height, 0.1f);
  for (int y = 10; y < 20; ++y) {
    for (int x = 40; x < 60; ++x) depth.ref(x, y) = 0.8f;
  }
  depth = reference::roundedToHalf(depth);
  const float depthValue = 0.05f;
  const StereoParams params = makeStereoParams(600.0f, 0.2f, width, height, depthValue);
  const float kw = depthValue * float(width);
  const int reach = int(std::floor(kw * depth.at(40, 10) + 0.5f));     // 5
  const int background = int(std::floor(kw * depth.at(0, 0) + 0.5f));  // 1: moves nothing
  ASSERT_EQ(reach, 5);
  ASSERT_EQ(background, 1);
  auto d = testing::upload(backend(), depth);
  auto left = testing::poisoned(backend(), width, height);
  auto right = testing::poisoned(backend(), width, height);
  backend().stereoGeneration(*d, *left, *right, params);
  const Plane l = testing::readBack(backend(), *left);
  const Plane r = testing::readBack(backend(), *right);
  for (int x = 0; x < width; ++x) {
    const bool inLeft = x >= 40 && x < 60 + reach;
    const bool inRight = x >= 40 - reach && x < 60;
    EXPECT_EQ(l.at(x, 15), inLeft ? depth.at(40, 10) : depth.at(0, 0)) << "left map column " << x;
    EXPECT_EQ(r.at(x, 15), inRight ? depth.at(40, 10) : depth.at(0, 0)) << "right map column " << x;
    EXPECT_EQ(l.at(x, 5), depth.at(0, 0)) << "row above the square, column " << x;
  }
}

TEST_P(KernelBackendTest, DiskDilateMatchesReferenceExactly) {
  const std::vector<float> disk = StereoGenerationHalf::makeDiskKernel(2);
  uint32_t seed = 60;
  for (const Size s : kSizes) {
    const Plane m = testing::randomPlane(s.width, s.height, seed++);
    auto in = testing::upload(backend(), m);
    auto out = testing::poisoned(backend(), s.width, s.height);
    backend().diskDilate(*in, *out);
    expectExact(testing::readBack(backend(), *out), reference::dilate(m, disk, 2), "dilation");
  }
}

TEST_P(KernelBackendTest, DiskDilateOfOnePointIsAFullDisk) {
  // A flat max gives the whole 13-pixel disk, centre included (not a ring).
  Plane m(9, 9, 0.0f);
  m.ref(4, 4) = 1.0f;
  auto in = testing::upload(backend(), m);
  auto out = testing::poisoned(backend(), 9, 9);
  backend().diskDilate(*in, *out);
  const Plane got = testing::readBack(backend(), *out);
  int members = 0;
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) {
      const int d2 = (x - 4) * (x - 4) + (y - 4) * (y - 4);
      EXPECT_EQ(got.at(x, y), d2 <= 4 ? 1.0f : 0.0f) << "(" << x << ", " << y << ")";
      members += got.at(x, y) == 1.0f;
    }
  }
  EXPECT_EQ(members, 13);
}

TEST_P(KernelBackendTest, GaussianBlurMatchesReference) {
  uint32_t seed = 80;
  for (const Size s : kSizes) {
    const Plane m = testing::randomPlane(s.width, s.height, seed++);
    auto in = testing::upload(backend(), m);
    auto out = testing::poisoned(backend(), s.width, s.height);
    backend().gaussianBlur(*in, *out);
    expectClose(testing::readBack(backend(), *out), reference::gaussianBlur(m), "blur");
  }
}

TEST_P(KernelBackendTest, UploadRoundsFloatToHalfAndRefusesOtherFormats) {
  DepthMap floats(3, 1, MapFormat::Float32);
  floats.floats()[0] = 0.1f;
  floats.floats()[1] = 1.0f / 3.0f;
  floats.floats()[2] = 70000.0f;  // beyond half: infinity
  auto map = backend().acquireMap(3, 1);
  backend().upload(floats.view(), *map);
  const Plane got = testing::readBack(backend(), *map);
  EXPECT_EQ(got.at(0, 0), roundToHalf(0.1f));
  EXPECT_EQ(got.at(1, 0), roundToHalf(1.0f / 3.0f));
  EXPECT_EQ(got.at(2, 0), INFINITY);

  DepthMap bytes(3, 1, MapFormat::Unorm8);
  EXPECT_THROW(backend().upload(bytes.view(), *map), std::invalid_argument);
  DepthMap wrongSize(4, 1, MapFormat::Float16);
  EXPECT_THROW(backend().upload(wrongSize.view(), *map), std::invalid_argument);
}

TEST_P(KernelBackendTest, UploadHonoursRowPitch) {
  // 3x2 halves in rows of 5.
  std::vector<uint16_t> rows(10, floatToHalf(9.0f));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) rows[size_t(y * 5 + x)] = floatToHalf(float(y * 3 + x));
  }
  auto map = backend().acquireMap(3, 2);
  backend().upload(DepthMapView{rows.data(), 3, 2, 10, MapFormat::Float16}, *map);
  const Plane got = testing::readBack(backend(), *map);
  EXPECT_EQ(got.values, (std::vector<float>{0, 1, 2, 3, 4, 5}));
}

TEST_P(KernelBackendTest, RefusesInPlaceAndMismatchedMaps) {
  auto a = backend().acquireMap(8, 8);
  auto b = backend().acquireMap(8, 8);
  auto small = backend().acquireMap(4, 8);
  const StereoParams params = makeStereoParams(600.0f, 0.2f, 8, 8, 0.01f);
  EXPECT_THROW(backend().diskDilate(*a, *a), std::invalid_argument);
  EXPECT_THROW(backend().gaussianBlur(*a, *a), std::invalid_argument);
  EXPECT_THROW(backend().depthSmoothing(*a, *a, params), std::invalid_argument);
  EXPECT_THROW(backend().stereoGeneration(*a, *b, *b, params), std::invalid_argument);
  EXPECT_THROW(backend().dynamicDepthFilter(*a, *b, *a, {}), std::invalid_argument);
  EXPECT_THROW(backend().diskDilate(*a, *small), std::invalid_argument);
  auto cpu = testing::backendOf(BackendKind::Cpu, nullptr)->acquireMap(8, 8);
  if (backend().kind() != BackendKind::Cpu) {
    EXPECT_THROW(backend().diskDilate(*cpu, *a), std::invalid_argument) << "a foreign map";
  }
}

TEST_P(KernelBackendTest, PoolReusesReleasedMapsOnly) {
  auto a = backend().acquireMap(8, 8);
  KernelMap* first = a.get();
  auto b = backend().acquireMap(8, 8);
  EXPECT_NE(b.get(), first) << "a held map must not be handed out twice";
  a.reset();
  auto c = backend().acquireMap(8, 8);
  EXPECT_EQ(c.get(), first);
}

INSTANTIATE_TEST_SUITE_P(Backends, KernelBackendTest,
                         ::testing::Values(BackendKind::Cpu, BackendKind::OpenGl),
                         [](const auto& info) { return testing::kindName(info.param); });

}  // namespace
}  // namespace vistrelle::ai3d
