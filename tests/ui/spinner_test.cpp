// The fin spinner: geometry, turns, stepping, fading and the determinate pie.

#include "ui/spinning_progress_indicator_layer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ui_harness.h"

namespace vistrelle {
namespace {

// The spinner draws black on the window's light background.
bool dark(const QImage& image, int x, int y) {
  return qGray(image.pixel(x, y)) < 100;
}
bool blank(const QImage& image, int x, int y) {
  return qGray(image.pixel(x, y)) > 200;
}

using ui::SpinningProgressIndicatorLayer;

TEST(Spinner, TwelveFinsSitBetweenTheirRadiiAndTurnClockwise) {
  const double m = 100;
  const QRectF fin = SpinningProgressIndicatorLayer::finRect(m);
  EXPECT_DOUBLE_EQ(fin.width(), 9.5);
  EXPECT_DOUBLE_EQ(fin.height(), 30);
  EXPECT_DOUBLE_EQ(fin.center().x(), 0);
  EXPECT_NEAR(-fin.bottom(), 18.9, 1e-9) << "inner end 0.189m from the centre";
  EXPECT_NEAR(-fin.top(), 48.9, 1e-9) << "outer end 0.489m from the centre";
  for (int i = 0; i < 12; ++i) {
    EXPECT_NEAR(SpinningProgressIndicatorLayer::finAngle(i, 12), 6.282185 / 12 * i, 1e-12);
  }
  EXPECT_EQ(SpinningProgressIndicatorLayer::finAngle(3, 0), 0);

  // Drawn: fin 0 lit at 12 o'clock, fin 3 (a quarter turn clockwise) at 3.
  SpinningProgressIndicatorLayer spinner;
  spinner.resize(100, 100);
  spinner.setNumFins(12);
  spinner.setForeColor(Qt::black);
  spinner.setFposition(11);
  spinner.advancePosition();
  EXPECT_EQ(spinner.fposition(), 0);
  const QImage lit0 = uitest::grab(&spinner);
  EXPECT_TRUE(dark(lit0, 50, 50 - 34)) << "12 o'clock";
  EXPECT_TRUE(blank(lit0, 50 + 34, 50)) << "nothing at 3 o'clock";
  spinner.setFposition(2);
  spinner.advancePosition();
  const QImage lit3 = uitest::grab(&spinner);
  EXPECT_TRUE(dark(lit3, 50 + 34, 50)) << "fin 3 at 3 o'clock";
  EXPECT_TRUE(blank(lit3, 50 - 34, 50)) << "not at 9 o'clock";
}

TEST(Spinner, StepsEveryFiftyMillisecondsWrapsAndFadesEachFinOverSevenTenths) {
  SpinningProgressIndicatorLayer spinner;
  spinner.resize(40, 40);
  spinner.setNumFins(12);
  spinner.setFposition(11);
  spinner.startAnimation();
  uitest::settle();
  EXPECT_EQ(spinner.fposition(), 0) << "the first step runs at once and wraps";
  EXPECT_DOUBLE_EQ(spinner.finOpacity(0), 1.0);
  EXPECT_DOUBLE_EQ(spinner.finOpacity(1), 0.0) << "fins start at fadeDownOpacity";
  uitest::advance(0.35);
  EXPECT_EQ(spinner.fposition(), 7);
  EXPECT_NEAR(spinner.finOpacity(0), 0.5, 1e-9) << "half way through its 0.7 s fade";
  EXPECT_DOUBLE_EQ(spinner.finOpacity(7), 1.0);
  uitest::advance(0.3);
  EXPECT_EQ(spinner.fposition(), 1) << "wrapped after fin 11";
  spinner.stopAnimation();
  uitest::advance(1.0);
  EXPECT_EQ(spinner.fposition(), 1) << "no step after stop";
  EXPECT_DOUBLE_EQ(spinner.finOpacity(0), 0.0);
}

TEST(Spinner, WithoutFinsAStepDoesNothing) {
  SpinningProgressIndicatorLayer spinner;
  EXPECT_EQ(spinner.numFins(), 0);
  spinner.advancePosition();
  spinner.startAnimation();
  uitest::advance(0.2);
  EXPECT_EQ(spinner.fposition(), 0);
  spinner.stopAnimation();
  // A position left past the fins (fewer fins later) wraps safely too.
  spinner.setNumFins(4);
  spinner.setFposition(9);
  spinner.advancePosition();
  EXPECT_EQ(spinner.fposition(), 0);
  spinner.setFposition(-3);
  spinner.advancePosition();
  EXPECT_EQ(spinner.fposition(), 0);
}

TEST(Spinner, ThePieIsGuardedAndClamped) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double value, max;
    std::optional<double> fraction;
  } cases[] = {{50, 100, 0.5},          {0, 100, std::nullopt},   {-1, 100, std::nullopt},
               {10, 0, std::nullopt},   {10, -5, std::nullopt},   {nan, 100, std::nullopt},
               {10, nan, std::nullopt}, {inf, 100, std::nullopt}, {10, inf, std::nullopt},
               {250, 100, 1.0}};
  for (const auto& c : cases) {
    EXPECT_EQ(SpinningProgressIndicatorLayer::pieFraction(c.value, c.max), c.fraction)
        << c.value << " / " << c.max;
  }

  // Determinate at a quarter: ring all round, pie only in the top right.
  SpinningProgressIndicatorLayer spinner;
  spinner.resize(100, 100);
  spinner.setForeColor(Qt::black);
  spinner.setDeterminate(true);
  spinner.setMaxValue(100);
  spinner.setDoubleValue(25);
  const QImage quarter = uitest::grab(&spinner);
  uitest::saveSnapshot(quarter, "spinner-determinate-quarter");
  // Ring radius (100 - 2) / 2.1 = 46.7: on it at 9 o'clock.
  EXPECT_TRUE(dark(quarter, 50 - 47, 50));
  EXPECT_TRUE(dark(quarter, 50 + 20, 50 - 20)) << "inside the quarter pie";
  EXPECT_TRUE(blank(quarter, 50 - 20, 50 - 20)) << "the top left quarter is empty";
  EXPECT_TRUE(blank(quarter, 50 + 20, 50 + 20)) << "the bottom right quarter is empty";
  spinner.setMaxValue(0);
  const QImage none = uitest::grab(&spinner);
  EXPECT_TRUE(blank(none, 50 + 20, 50 - 20)) << "no pie for a maximum of 0";
}

}  // namespace
}  // namespace vistrelle
