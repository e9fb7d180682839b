#include "ui/toast_transient_message.h"

#include "ui/progress_hud.h"

namespace vistrelle::ui {

void ToastTransientMessage::present(const std::string& text) {
  QWidget* view = currentContent_ ? currentContent_() : nullptr;
  ProgressHUD::showMessage(QString::fromStdString(text), view);
}

}  // namespace vistrelle::ui
