#pragma once

#include <QWidget>
#include <functional>

#include "app/app_window.h"

namespace vistrelle::ui {

// The 420 by 620 main window.  Its content (the home view) comes with the
// home-window work; closing it asks the delegate what to do.
class HomeWindow final : public QWidget, public AppWindow {
  Q_OBJECT

 public:
  // `shouldQuitOnClose` answers true when closing the window ends the
  // application, false when the window only hides.
  explicit HomeWindow(std::function<bool()> shouldQuitOnClose);

  void showCentered() override;
  void bringToFront() override;
  bool isVisible() const override { return QWidget::isVisible(); }

  static constexpr int kWidth = 420;
  static constexpr int kHeight = 620;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<bool()> shouldQuitOnClose_;
};

}  // namespace vistrelle::ui
