// Eye-view drawing math and the two back-ends' eye views against the
// per-pixel reference.
#include "ai3d/kernels/eye_view_compositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "ai3d/kernels/backend_fixture.h"

namespace vistrelle::ai3d {
namespace {

using testing::Plane;

struct ViewportCase {
  float textureWidth, textureHeight, drawableWidth, drawableHeight;
  float x, y, width, height;
};

TEST(EyeViewportTest, AspectFitTable) {
  const ViewportCase cases[] = {
      {3840, 1080, 1920, 1080, 0, 270, 1920, 540},
      {1920, 1080, 1920, 1080, 0, 0, 1920, 1080},
      {2880, 1800, 1920, 1080, 96, 0, 1728, 1080},
      {1080, 1920, 1920, 1080, 656.25f, 0, 607.5f, 1080},
  };
  for (const ViewportCase& c : cases) {
    const EyeViewport vp =
        fitEyeViewport(c.textureWidth, c.textureHeight, c.drawableWidth, c.drawableHeight);
    EXPECT_EQ(vp.x, c.x) << c.textureWidth << "x" << c.textureHeight;
    EXPECT_EQ(vp.y, c.y) << c.textureWidth << "x" << c.textureHeight;
    EXPECT_EQ(vp.width, c.width) << c.textureWidth << "x" << c.textureHeight;
    EXPECT_EQ(vp.height, c.height) << c.textureWidth << "x" << c.textureHeight;
  }
  const EyeViewport mac = fitEyeViewport(3024, 1964, 1920, 1080);
  EXPECT_NEAR(mac.x, 128.55f, 0.01f);
}

TEST(EyeViewportTest, QuadIsAStripOverTheWholeView) {
  // (-1,-1,0,1), (1,-1,1,1), (-1,1,0,0), (1,1,1,0): v = 0 at the top.
  EXPECT_EQ(kEyeQuadVertices,
            (std::array<float, 16>{-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0}));
}

// A smooth frame: slow gradients, so that GPU sampler precision stays
// within 2 LSB.
std::vector<uint8_t> smoothFrame(int width, int height) {
  std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 4];
      p[0] = uint8_t(255.0 * x / std::max(1, width - 1));
      p[1] = uint8_t(255.0 * y / std::max(1, height - 1));
      p[2] = uint8_t(127.5 + 127.0 * std::sin(6.28318 * (x + y) / (width + height)));
      p[3] = 17;  // alpha of the capture is ignored: output alpha is 1
    }
  }
  return pixels;
}

// A smooth depth map: a bump in the middle.
Plane smoothMap(int width, int height) {
  Plane p(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x - width / 2.0) / width, dy = (y - height / 2.0) / height;
      p.ref(x, y) = float(0.2 + 0.7 * std::exp(-(dx * dx + dy * dy) * 8));
    }
  }
  return reference::roundedToHalf(p);
}

class EyeViewTest : public testing::BackendTest {
 protected:
  // Compares every pixel of the draws' rectangles; colour within tolerance,
  // alpha exact.
  static void expectImages(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want,
                           int width, int tolerance) {
    ASSERT_EQ(got.size(), want.size());
    int bad = 0;
    for (size_t i = 0; i < got.size() && bad < 8; ++i) {
      const int allowed = i % 4 == 3 ? 0 : tolerance;
      if (std::abs(int(got[i]) - int(want[i])) > allowed) {
        ++bad;
        const size_t pixel = i / 4;
        ADD_FAILURE() << "pixel (" << pixel % size_t(width) << ", " << pixel / size_t(width)
                      << ") channel " << i % 4 << ": got " << int(got[i]) << ", want "
                      << int(want[i]);
      }
    }
  }
};

struct DrawCase {
  int frameWidth, frameHeight, targetWidth, targetHeight;
  bool sideBySide;
  float depthValue;
};

TEST_P(EyeViewTest, MatchesReferenceWithinTwoLsb) {
  const DrawCase cases[] = {
      {384, 108, 384, 108, true, 0.01f},     // wide frame, letterboxed top and bottom
      {192, 108, 192, 108, false, -0.015f},  // fills the view
      {302, 196, 192, 108, false, 0.01f},    // fractional pillarbox (x = 12.85)
      {3024, 1964, 1920, 1080, false, 0.015f}, {288, 180, 384, 108, true, 0.0f},
  };
  const Plane left = smoothMap(518, 294);
  Plane right = smoothMap(518, 294);
  for (float& v : right.values) v = roundToHalf(v * 0.5f + 0.1f);
  auto l = testing::upload(backend(), left);
  auto r = testing::upload(backend(), right);
  for (const DrawCase& c : cases) {
    SCOPED_TRACE(testing::describeSize(c.frameWidth, c.frameHeight) + " into " +
                 testing::describeSize(c.targetWidth, c.targetHeight));
    const std::vector<uint8_t> frame = smoothFrame(c.frameWidth, c.frameHeight);
    const BgraImageView frameView{frame.data(), c.frameWidth, c.frameHeight, 0};
    std::vector<uint8_t> got(size_t(c.targetWidth) * size_t(c.targetHeight) * 4, 0xAB);
    std::vector<uint8_t> want(got.size(), 0xCD);
    const MutableBgraImageView gotView{got.data(), c.targetWidth, c.targetHeight, 0};
    const MutableBgraImageView wantView{want.data(), c.targetWidth, c.targetHeight, 0};
    EyeViewCompositor views(backend());
    if (c.sideBySide) {
      views.drawSideBySide(frameView, *l, *r, c.depthValue, gotView);
      const int half = c.targetWidth / 2;
      reference::drawEye(frameView, left, right, EyeDraw{0, 0, half, c.targetHeight, -c.depthValue},
                         wantView);
      reference::drawEye(frameView, left, right,
                         EyeDraw{half, 0, c.targetWidth - half, c.targetHeight, c.depthValue},
                         wantView);
    } else {
      views.drawEye(frameView, *l, *r, c.depthValue, gotView);
      reference::drawEye(frameView, left, right,
                         EyeDraw{0, 0, c.targetWidth, c.targetHeight, c.depthValue}, wantView);
    }
    expectImages(got, want, c.targetWidth, 2);
  }
}

TEST_P(EyeViewTest, LetterboxIsOpaqueBlackWithGlCoverageOnExactEdges) {
  // 40x10 fitted into 20x20 spans rows 7.5 .. 12.5, whose edges fall on
  // pixel centres: GL counts rows from the bottom and keeps [7.5, 12.5)
  // there, which is rows 8..12 top-down. Across (10x40), columns 7..11.
  const std::vector<uint8_t> frame(size_t(40) * 10 * 4, 200);
  Plane map(8, 8, 0.5f);
  auto m = testing::upload(backend(), map);
  std::vector<uint8_t> out(size_t(20) * 20 * 4, 0xAB);
  EyeViewCompositor views(backend());
  views.drawEye({frame.data(), 40, 10, 0}, *m, *m, 0.01f, {out.data(), 20, 20, 0});
  for (int y = 0; y < 20; ++y) {
    const uint8_t* p = &out[size_t(y) * 20 * 4 + 40];
    const bool drawn = y >= 8 && y <= 12;
    EXPECT_EQ(p[0], drawn ? 200 : 0) << "row " << y;
    EXPECT_EQ(p[3], 255) << "row " << y;
  }
  views.drawEye({frame.data(), 10, 40, 0}, *m, *m, 0.0f, {out.data(), 20, 20, 0});
  for (int x = 0; x < 20; ++x) {
    const uint8_t* p = &out[size_t(10) * 20 * 4 + size_t(x) * 4];
    const bool drawn = x >= 7 && x <= 11;
    EXPECT_EQ(p[1], drawn ? 200 : 0) << "column " << x;
    EXPECT_EQ(p[3], 255) << "column " << x;
  }
}

TEST_P(EyeViewTest, ZeroDepthGivesTheSameFittedFrameInBothHalves) {
  const std::vector<uint8_t> frame = smoothFrame(384, 216);
  auto l = testing::upload(backend(), smoothMap(518, 294));
  auto r = testing::upload(backend(), testing::randomPlane(518, 294, 3));
  std::vector<uint8_t> out(size_t(384) * 108 * 4, 0xAB);
  EyeViewCompositor(backend()).drawSideBySide({frame.data(), 384, 216, 0}, *l, *r, 0.0f,
                                              {out.data(), 384, 108, 0});
  for (int y = 0; y < 108; ++y) {
    const uint8_t* row = &out[size_t(y) * 384 * 4];
    ASSERT_EQ(0, std::memcmp(row, row + 192 * 4, 192 * 4)) << "row " << y;
  }
  // Not a blank image: the fitted frame is there (96x54 rows from 27).
  EXPECT_GT(out[(size_t(54) * 384 + 150) * 4], 100);
}

TEST_P(EyeViewTest, NearVerticalLineMovesApartInTheTwoEyes) {
  // A white one-pixel line at column 96 of a 192x108 frame on a near map.
  const int width = 192, height = 108;
  std::vector<uint8_t> frame(size_t(width) * height * 4, 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* p = &frame[(size_t(y) * width + 96) * 4];
    p[0] = p[1] = p[2] = 255;
  }
  auto near = testing::upload(backend(), Plane(64, 36, 1.0f));
  std::vector<uint8_t> out(size_t(2 * width) * height * 4, 0xAB);
  const float depthValue = 0.05f;  // shift 0.05 of the width = 9.6 px
  EyeViewCompositor(backend()).drawSideBySide({frame.data(), width, height, 0}, *near, *near,
                                              depthValue, {out.data(), 2 * width, height, 0});
  auto brightest = [&](int x0) {
    int best = -1, value = -1;
    for (int x = 0; x < width; ++x) {
      const int v = out[(size_t(50) * 2 * width + size_t(x0 + x)) * 4];
      if (v > value) value = v, best = x;
    }
    return best;
  };
  const int left = brightest(0);
  const int right = brightest(width);
  EXPECT_GT(left, 96 + 5) << "the left eye sees the near line moved right";
  EXPECT_LT(right, 96 - 5) << "the right eye sees it moved left";
  EXPECT_NEAR(left - 96, 96 - right, 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, EyeViewTest,
                         ::testing::Values(BackendKind::Cpu, BackendKind::OpenGl),
                         [](const auto& info) { return testing::kindName(info.param); });

}  // namespace
}  // namespace vistrelle::ai3d
