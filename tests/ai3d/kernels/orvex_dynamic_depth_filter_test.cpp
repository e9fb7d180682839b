#include "ai3d/kernels/orvex_dynamic_depth_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "ai3d/kernels/backend_fixture.h"

namespace vistrelle::ai3d {
namespace {

using testing::Plane;

class DynamicDepthFilterTest : public testing::BackendTest {
 protected:
  OrvexDynamicDepthFilter makeFilter() {
    return OrvexDynamicDepthFilter(backend(), [this] { return now_; });
  }
  Plane run(OrvexDynamicDepthFilter& filter, const Plane& input, float alpha, float eta,
            float thresh) {
    const DepthMap map = testing::toHalfMap(input);
    auto out = filter.apply(map.view(), alpha, eta, thresh);
    return testing::readBack(backend(), *out);
  }
  double now_ = 5000.0;
};

TEST_P(DynamicDepthFilterTest, FirstFrameAfterResetUsesSixteenMsAndPassesTheInput) {
  auto filter = makeFilter();
  const Plane input = testing::randomPlane(17, 33, 1);
  EXPECT_EQ(run(filter, input, 0.05f, 0.2f, 0.05f).values, input.values);
  EXPECT_FLOAT_EQ(filter.lastDt(), 16.0f);
  now_ += 33.0;
  run(filter, input, 0.05f, 0.2f, 0.05f);
  EXPECT_NEAR(filter.lastDt(), 33.0f, 1e-3f);

  filter.reset();
  now_ += 1000.0;
  const Plane other = testing::randomPlane(17, 33, 2);
  EXPECT_EQ(run(filter, other, 0.05f, 0.2f, 0.05f).values, other.values);
  EXPECT_FLOAT_EQ(filter.lastDt(), 16.0f);
}

TEST_P(DynamicDepthFilterTest, ClockAtZeroStillCountsAsAPreviousFrame) {
  now_ = 0.0;
  auto filter = makeFilter();
  const Plane input(4, 4, 0.5f);
  run(filter, input, 0.1f, 0.1f, 0.1f);
  now_ = 40.0;
  run(filter, input, 0.1f, 0.1f, 0.1f);
  EXPECT_NEAR(filter.lastDt(), 40.0f, 1e-3f);
}

TEST_P(DynamicDepthFilterTest, StepAboveThresholdPassesInOneFrame) {
  auto filter = makeFilter();
  run(filter, Plane(16, 16, 0.2f), 0.05f, 0.2f, 0.05f);
  now_ += 33.0;
  const Plane cut = run(filter, Plane(16, 16, 0.7f), 0.05f, 0.2f, 0.05f);
  for (float v : cut.values) ASSERT_EQ(v, roundToHalf(0.7f));
}

TEST_P(DynamicDepthFilterTest, NoiseBelowEtaIsDamped) {
  auto filter = makeFilter();
  const Plane base(32, 32, 0.5f);
  run(filter, base, 0.05f, 0.2f, 0.5f);
  Plane noisy = testing::randomPlane(32, 32, 9, 0.48f, 0.52f);
  now_ += 16.0;
  const Plane out = run(filter, noisy, 0.05f, 0.2f, 0.5f);
  double inputDeviation = 0, outputDeviation = 0;
  for (size_t i = 0; i < out.values.size(); ++i) {
    inputDeviation += std::fabs(noisy.values[i] - 0.5);
    outputDeviation += std::fabs(out.values[i] - 0.5);
  }
  // The mean change (~0.01) is well below eta: about a = 0.05 of it passes.
  EXPECT_LT(outputDeviation, 0.15 * inputDeviation);
}

TEST_P(DynamicDepthFilterTest, AlphaOneFollowsTheInput) {
  auto filter = makeFilter();
  run(filter, testing::randomPlane(17, 33, 3), 1.0f, 0.2f, 1.0f);
  now_ += 33.0;
  const Plane next = testing::randomPlane(17, 33, 4, 0.4f, 0.45f);
  EXPECT_EQ(run(filter, next, 1.0f, 0.2f, 1.0f).values, next.values);
}

TEST_P(DynamicDepthFilterTest, NanInputKeepsThePreviousValue) {
  auto filter = makeFilter();
  const Plane first(8, 8, 0.25f);
  run(filter, first, 0.1f, 0.1f, 0.1f);
  Plane second(8, 8, 0.25f);
  second.ref(3, 3) = std::nanf("");
  now_ += 33.0;
  const Plane out = run(filter, second, 0.1f, 0.1f, 0.1f);
  for (float v : out.values) ASSERT_EQ(v, roundToHalf(0.25f));
}

TEST_P(DynamicDepthFilterTest, SizeChangeResets) {
  auto filter = makeFilter();
  run(filter, Plane(8, 8, 0.1f), 0.05f, 0.2f, 0.9f);
  now_ += 33.0;
  const Plane bigger = testing::randomPlane(12, 10, 5);
  EXPECT_EQ(run(filter, bigger, 0.05f, 0.2f, 0.9f).values, bigger.values);
  EXPECT_FLOAT_EQ(filter.lastDt(), 16.0f);
}

TEST_P(DynamicDepthFilterTest, FloatInputIsRoundedOtherFormatsRefused) {
  auto filter = makeFilter();
  DepthMap floats(3, 2, MapFormat::Float32);
  for (float& v : floats.floats()) v = 0.3f;
  auto out = filter.apply(floats.view(), 0.1f, 0.1f, 0.1f);
  for (float v : testing::readBack(backend(), *out).values) EXPECT_EQ(v, roundToHalf(0.3f));

  DepthMap bgra(3, 2, MapFormat::Bgra8);
  EXPECT_THROW(filter.apply(bgra.view(), 0.1f, 0.1f, 0.1f), std::invalid_argument);
}

TEST_P(DynamicDepthFilterTest, StoredTuningIsReadPerFrame) {
  auto filter = makeFilter();
  run(filter, Plane(8, 8, 0.2f), 0.0f, 0.0f, 0.0f);
  filter.alpha = 1.0f;  // follow the input
  filter.sceneChangeThresh = 1.0f;
  now_ += 33.0;
  const DepthMap next = testing::toHalfMap(Plane(8, 8, 0.3f));
  auto out = filter.apply(next.view());
  for (float v : testing::readBack(backend(), *out).values) EXPECT_EQ(v, roundToHalf(0.3f));
}

TEST_P(DynamicDepthFilterTest, ResetFromAnotherThreadIsSafe) {
  auto filter = makeFilter();
  const DepthMap map = testing::toHalfMap(testing::randomPlane(17, 33, 6));
  std::thread resetter([&] {
    for (int i = 0; i < 50; ++i) filter.reset();
  });
  for (int i = 0; i < 50; ++i) {
    auto out = filter.apply(map.view(), 0.1f, 0.1f, 0.1f);
    ASSERT_EQ(out->width(), 17);
  }
  resetter.join();
}

INSTANTIATE_TEST_SUITE_P(Backends, DynamicDepthFilterTest,
                         ::testing::Values(BackendKind::Cpu, BackendKind::OpenGl),
                         [](const auto& info) { return testing::kindName(info.param); });

}  // namespace
}  // namespace vistrelle::ai3d
