// OpenCV's morphology and blur as an independent check of what the
// reference (and so both back-ends) compute for the dilation and the blur.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "ai3d/kernels/backend_fixture.h"
#include "ai3d/kernels/stereo_generation_half.h"

namespace vistrelle::ai3d {
namespace {

using testing::Plane;

cv::Mat toMat(const Plane& p) {
  cv::Mat m(p.height, p.width, CV_32F);
  std::memcpy(m.data, p.values.data(), p.values.size() * sizeof(float));
  return m;
}

TEST(OpenCvCrossCheckTest, DilationIsAFlatMaxOverTheDisk) {
  const Plane m = testing::randomPlane(37, 23, 11);
  const auto disk = StereoGenerationHalf::makeDiskKernel(2);
  cv::Mat element(5, 5, CV_8U);
  for (int i = 0; i < 25; ++i) element.data[i] = disk[size_t(i)] == 1.0f ? 1 : 0;
  cv::Mat dilated;
  cv::dilate(toMat(m), dilated, element, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
  const Plane want = reference::dilate(m, disk, 2);
  for (int y = 0; y < m.height; ++y) {
    for (int x = 0; x < m.width; ++x) {
      ASSERT_EQ(dilated.at<float>(y, x), want.at(x, y)) << x << ", " << y;
    }
  }
}

TEST(OpenCvCrossCheckTest, BlurIsTheSigmaFourGaussianWithClampedEdges) {
  const Plane m = testing::randomPlane(61, 45, 12);
  cv::Mat blurred;
  cv::GaussianBlur(toMat(m), blurred, cv::Size(25, 25), 4.0, 4.0, cv::BORDER_REPLICATE);
  const Plane want = reference::gaussianBlur(m);
  for (int y = 0; y < m.height; ++y) {
    for (int x = 0; x < m.width; ++x) {
      const float tolerance = 2 * testing::halfUlp(want.at(x, y)) + 1e-4f;
      ASSERT_NEAR(blurred.at<float>(y, x), want.at(x, y), tolerance) << x << ", " << y;
    }
  }
}

}  // namespace
}  // namespace vistrelle::ai3d
