#pragma once

#include <QPointer>
#include <QWidget>

namespace vistrelle::ui {

// The end of a fade-out: the view takes its final opacity 0 when the fade
// starts and leaves its parent (and is deleted) when the fade stops.
class HideAnimationDelegate {
 public:
  explicit HideAnimationDelegate(QWidget* view) : view_(view) {}

  void animationDidStart();
  void animationDidStop(bool finished);
  QWidget* view() const { return view_; }

 private:
  QPointer<QWidget> view_;
};

}  // namespace vistrelle::ui
