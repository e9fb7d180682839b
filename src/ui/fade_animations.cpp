#include "ui/fade_animations.h"

#include <QGraphicsOpacityEffect>
#include <QWidget>
#include <chrono>
#include <cmath>

#include "ui/animator.h"
#include "ui/hide_animation_delegate.h"
#include "ui/show_animation_delegate.h"

namespace vistrelle::ui {

namespace {

const char* const kShowKey = "show animation";
const char* const kHideKey = "hide animation";

// One running fade, a child of its view named by its key ("show animation",
// "hide animation"), so that it goes with the view.
class FadeAnimation final : public QObject {
 public:
  FadeAnimation(QWidget* view, const QString& key) : QObject(view) { setObjectName(key); }
  Animator animator;
};

// The fades running on a view (the class has no meta-object of its own, so
// they are told apart by type, not by qobject_cast).
QList<FadeAnimation*> fadesOf(const QWidget* view) {
  QList<FadeAnimation*> fades;
  for (QObject* child : view->children()) {
    if (auto* fade = dynamic_cast<FadeAnimation*>(child)) fades << fade;
  }
  return fades;
}

dispatch::Nanos seconds(double value) {
  if (!std::isfinite(value) || value < 0) value = 0;
  return std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(value));
}

template <typename Delegate>
void fade(QWidget* view, const QString& key, double from, double to, double duration,
          double delay) {
  if (!view) return;
  // A view shows one fade at a time: a new one takes over from any other,
  // which stops as an interrupted animation does.
  for (FadeAnimation* old : fadesOf(view)) {
    old->setParent(nullptr);
    old->animator.stop();
    old->deleteLater();
  }
  auto* animation = new FadeAnimation(view, key);
  auto delegate = std::make_shared<Delegate>(view);
  QPointer<QWidget> target(view);
  animation->animator.start(from, to, seconds(duration), seconds(delay),
                            {[delegate] { delegate->animationDidStart(); },
                             [target](double value) {
                               if (target) setViewOpacity(target, value);
                             },
                             [delegate](bool finished) { delegate->animationDidStop(finished); }});
}

}  // namespace

void setViewOpacity(QWidget* view, double opacity) {
  if (!view) return;
  auto* effect = qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect());
  if (!effect) {
    if (opacity >= 1.0) return;
    effect = new QGraphicsOpacityEffect(view);
    view->setGraphicsEffect(effect);
  }
  effect->setOpacity(opacity);
}

double viewOpacity(const QWidget* view) {
  auto* effect = view ? qobject_cast<QGraphicsOpacityEffect*>(view->graphicsEffect()) : nullptr;
  return effect ? effect->opacity() : 1.0;
}

void hideAnimation(QWidget* view) {
  hideAnimation(view, 1.0, 1.0);
}

void showAnimation(QWidget* view, double duration, double delay) {
  fade<ShowAnimationDelegate>(view, kShowKey, 0.0, 1.0, duration, delay);
}

void hideAnimation(QWidget* view, double duration, double delay) {
  fade<HideAnimationDelegate>(view, kHideKey, 1.0, 0.0, duration, delay);
}

}  // namespace vistrelle::ui
