#pragma once

#include <QString>

class QWidget;

namespace vistrelle::ui {

// The application's heads-up display.  Of it, the rest of the application
// uses one entry: a transient message as a toast.
class ProgressHUD {
 public:
  // Safe from any thread: on the main queue, shows `message` as a key-window
  // toast (showKeyWindowToast).  Without a view, or when the view is gone by
  // then, nothing is shown.
  static void showMessage(const QString& message, QWidget* view);
};

}  // namespace vistrelle::ui
