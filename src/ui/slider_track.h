#pragma once

#include <QColor>
#include <QWidget>
#include <functional>

namespace vistrelle::ui {

// A slider's track: a thin rounded bar that reports the pointer's gestures
// on it the way the panels' recognisers see them.  A press and a move past
// the drag distance is a pan that begins; later moves change it, the release
// ends it, and a grab lost on the way (the window hidden or deactivated)
// cancels it.  A release without a drag is a click.  x is along the track,
// in pixels from its leading edge.
class SliderTrack final : public QWidget {
  Q_OBJECT

 public:
  enum class Gesture { panBegan, panChanged, panEnded, panCancelled, click };
  using Handler = std::function<void(Gesture gesture, double x)>;

  explicit SliderTrack(QWidget* parent = nullptr);

  void setHandler(Handler handler) { handler_ = std::move(handler); }
  void setBarColor(const QColor& colour);
  bool isPanning() const { return panning_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void report(Gesture gesture, double x);
  // Ends a pan in progress as cancelled at the last position.
  void cancelPan();

  Handler handler_;
  QColor bar_;
  bool pressed_ = false;
  bool panning_ = false;
  QPointF pressedAt_;
  double lastX_ = 0;
};

}  // namespace vistrelle::ui
