#include "ui/show_animation_delegate.h"

#include "ui/fade_animations.h"

namespace vistrelle::ui {

void ShowAnimationDelegate::animationDidStart() {
  setViewOpacity(view_, 1.0);
}

}  // namespace vistrelle::ui
