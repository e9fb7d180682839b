#include "ui/hide_animation_delegate.h"

#include "ui/fade_animations.h"

namespace vistrelle::ui {

void HideAnimationDelegate::animationDidStart() {
  setViewOpacity(view_, 0.0);
}

void HideAnimationDelegate::animationDidStop(bool) {
  QWidget* view = view_;
  view_ = nullptr;
  if (!view) return;
  // Out of its parent now; deleted once the running step has returned.
  view->hide();
  view->setParent(nullptr);
  view->deleteLater();
}

}  // namespace vistrelle::ui
