#pragma once

#include <QWidget>
#include <functional>

#include "platform/message/transient_message.h"

namespace vistrelle::ui {

// Transient messages from below the user interface, shown as toasts over the
// main window's current content.
class ToastTransientMessage final : public message::TransientMessage {
 public:
  // `currentContent` answers the main window's current content (null before
  // the window exists).
  explicit ToastTransientMessage(std::function<QWidget*()> currentContent)
      : currentContent_(std::move(currentContent)) {}

  void present(const std::string& text) override;

 private:
  std::function<QWidget*()> currentContent_;
};

}  // namespace vistrelle::ui
