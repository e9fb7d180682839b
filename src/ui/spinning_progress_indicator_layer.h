#pragma once

#include <QColor>
#include <QRectF>
#include <QWidget>
#include <optional>
#include <vector>

#include "platform/dispatch/executor.h"

namespace vistrelle::ui {

// A spinner of fins round the centre, each lit in turn and fading out, with an
// optional determinate look (a ring and a pie for the progress).  It steps on
// the main queue every 0.05 s while running.
class SpinningProgressIndicatorLayer : public QWidget {
  Q_OBJECT

 public:
  explicit SpinningProgressIndicatorLayer(QWidget* parent = nullptr);
  ~SpinningProgressIndicatorLayer() override;

  bool isRunning() const { return isRunning_; }
  void startAnimation();
  void stopAnimation();

  bool isDeterminate() const { return isDeterminate_; }
  void setDeterminate(bool determinate);
  double maxValue() const { return maxValue_; }
  void setMaxValue(double value);
  double doubleValue() const { return doubleValue_; }
  void setDoubleValue(double value);

  int fposition() const { return fposition_; }
  void setFposition(int position) { fposition_ = position; }
  const std::optional<QColor>& foreColor() const { return foreColor_; }
  void setForeColor(std::optional<QColor> colour);
  double fadeDownOpacity() const { return fadeDownOpacity_; }
  void setFadeDownOpacity(double opacity) { fadeDownOpacity_ = opacity; }
  int numFins() const { return static_cast<int>(finLitAt_.size()); }
  void setNumFins(int count);

  // One step: the next fin lights up and starts to fade.  With no fins it does
  // nothing.
  void advancePosition();
  // A fin's opacity now (the main queue's clock).
  double finOpacity(int index) const;

  // A fin pointing at 12 o'clock, relative to the centre (y down), for a
  // smaller side m: 0.095m wide, from 0.189m to 0.489m off the centre.
  static QRectF finRect(double m);
  // Fin i is turned this many radians clockwise from 12 o'clock.
  static double finAngle(int index, int numFins);
  // The determinate pie's sweep as a fraction of the circle; none draws no
  // pie.
  static std::optional<double> pieFraction(double doubleValue, double maxValue);

  static constexpr double kFullTurn = 6.282185;
  static constexpr dispatch::Nanos kStep{50'000'000};
  static constexpr dispatch::Nanos kFade{700'000'000};

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void scheduleStep();

  bool isRunning_ = false;
  bool isDeterminate_ = false;
  double maxValue_ = 0;
  double doubleValue_ = 0;
  int fposition_ = 0;
  std::optional<QColor> foreColor_;
  double fadeDownOpacity_ = 0;
  // When each fin was last lit; none: never (it shows `fadeDownOpacity`).
  std::vector<std::optional<dispatch::TimePoint>> finLitAt_;
  dispatch::DelayedTask animationTimer_;
};

}  // namespace vistrelle::ui
