#pragma once

#include <QPointer>
#include <QWidget>

namespace vistrelle::ui {

// A fade-in: the view takes its final opacity 1 when the fade starts.
class ShowAnimationDelegate {
 public:
  explicit ShowAnimationDelegate(QWidget* view) : view_(view) {}

  void animationDidStart();
  void animationDidStop(bool) {}
  QWidget* view() const { return view_; }

 private:
  QPointer<QWidget> view_;
};

}  // namespace vistrelle::ui
