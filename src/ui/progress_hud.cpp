#include "ui/progress_hud.h"

#include <QPointer>
#include <QWidget>

#include "platform/dispatch/runtime.h"
#include "ui/toast.h"

namespace vistrelle::ui {

void ProgressHUD::showMessage(const QString& message, QWidget* view) {
  if (!view) return;
  // Held weakly: the view may be destroyed before the main queue gets here.
  QPointer<QWidget> target(view);
  dispatch::mainQueue()->post([message, target] {
    if (target) showKeyWindowToast(message, target);
  });
}

}  // namespace vistrelle::ui
