#include "ui/spinning_progress_indicator_layer.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <algorithm>
#include <cmath>

#include "platform/dispatch/runtime.h"
#include "ui/animator.h"

namespace vistrelle::ui {

SpinningProgressIndicatorLayer::SpinningProgressIndicatorLayer(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

SpinningProgressIndicatorLayer::~SpinningProgressIndicatorLayer() {
  animationTimer_.cancel();
}

void SpinningProgressIndicatorLayer::startAnimation() {
  animationTimer_.cancel();
  isRunning_ = true;
  // The first step at once, then every 0.05 s.
  QPointer<SpinningProgressIndicatorLayer> self(this);
  animationTimer_ = dispatch::mainQueue()->postAt(dispatch::mainQueue()->now(), [self] {
    if (self) self->scheduleStep();
  });
}

void SpinningProgressIndicatorLayer::scheduleStep() {
  if (!isRunning_) return;
  advancePosition();
  QPointer<SpinningProgressIndicatorLayer> self(this);
  animationTimer_ = dispatch::mainQueue()->postAfter(kStep, [self] {
    if (self) self->scheduleStep();
  });
}

void SpinningProgressIndicatorLayer::stopAnimation() {
  isRunning_ = false;
  animationTimer_.cancel();
  update();
}

void SpinningProgressIndicatorLayer::setDeterminate(bool determinate) {
  isDeterminate_ = determinate;
  update();
}

void SpinningProgressIndicatorLayer::setMaxValue(double value) {
  maxValue_ = value;
  update();
}

void SpinningProgressIndicatorLayer::setDoubleValue(double value) {
  doubleValue_ = value;
  update();
}

void SpinningProgressIndicatorLayer::setForeColor(std::optional<QColor> colour) {
  foreColor_ = colour;
  update();
}

void SpinningProgressIndicatorLayer::setNumFins(int count) {
  finLitAt_.assign(static_cast<size_t>(std::max(0, count)), std::nullopt);
  update();
}

void SpinningProgressIndicatorLayer::advancePosition() {
  const int fins = numFins();
  if (fins == 0) return;
  // Wraps also from a position set past the last fin.
  fposition_ = (fposition_ + 1 >= fins || fposition_ < 0) ? 0 : fposition_ + 1;
  finLitAt_[static_cast<size_t>(fposition_)] = dispatch::mainQueue()->now();
  update();
}

double SpinningProgressIndicatorLayer::finOpacity(int index) const {
  if (index < 0 || index >= numFins()) return 0;
  const auto& litAt = finLitAt_[static_cast<size_t>(index)];
  if (!litAt) return fadeDownOpacity_;
  return Animator::valueAt(1.0, fadeDownOpacity_, *litAt, kFade, dispatch::mainQueue()->now());
}

QRectF SpinningProgressIndicatorLayer::finRect(double m) {
  const double width = 0.095 * m;
  const double height = 0.3 * m;
  // The fin's anchor sits 0.63 of its height beyond its inner end, at the
  // centre: the inner end is 0.189m out, the outer one 0.489m.
  const double inner = 0.63 * height;
  return QRectF(-width / 2, -(inner + height), width, height);
}

double SpinningProgressIndicatorLayer::finAngle(int index, int numFins) {
  if (numFins <= 0) return 0;
  return kFullTurn / numFins * index;
}

std::optional<double> SpinningProgressIndicatorLayer::pieFraction(double doubleValue,
                                                                  double maxValue) {
  if (!std::isfinite(doubleValue) || !std::isfinite(maxValue)) return std::nullopt;
  if (doubleValue <= 0 || maxValue <= 0) return std::nullopt;
  return std::clamp(doubleValue / maxValue, 0.0, 1.0);
}

void SpinningProgressIndicatorLayer::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor colour = foreColor_.value_or(QColor(Qt::black));
  const double s = std::min(width(), height());
  const QPointF centre(width() / 2.0, height() / 2.0);

  if (isDeterminate_) {
    const double line = 1 + 0.01 * s;
    const double radius = (s - line) / 2.1;
    painter.setPen(QPen(colour, line));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, radius, radius);
    if (auto fraction = pieFraction(doubleValue_, maxValue_)) {
      const double r = radius - 2 * line;
      if (r > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        // From 12 o'clock, clockwise (Qt's angles turn the other way).
        painter.drawPie(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 90 * 16,
                        -static_cast<int>(std::lround(*fraction * 360 * 16)));
      }
    }
  }

  const QRectF fin = finRect(s);
  const double corner = fin.width() / 2;
  for (int i = 0; i < numFins(); ++i) {
    const double opacity = finOpacity(i);
    if (opacity <= 0) continue;
    painter.save();
    painter.translate(centre);
    painter.rotate(finAngle(i, numFins()) * 180.0 / M_PI);
    painter.setOpacity(opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(fin, corner, corner);
    painter.restore();
  }
}

}  // namespace vistrelle::ui
