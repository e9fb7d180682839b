#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "app/alert_presenter.h"

namespace vistrelle::ui {

// The application's alerts as Qt message boxes: application-modal, shown
// without a nested event loop, so the caller never waits; the answer comes
// on the main thread when the user chooses a button (closing the box is the
// last button).
class QtAlertPresenter final : public AlertPresenter {
 public:
  // `parent`: the window the alert belongs to (none: on its own).
  explicit QtAlertPresenter(std::function<QWidget*()> parent = {});

  void present(const AlertRequest& request, std::function<void(size_t button)> done) override;

 private:
  std::function<QWidget*()> parent_;
};

}  // namespace vistrelle::ui
