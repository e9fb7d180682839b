#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "app/app_window.h"

class QStackedLayout;

namespace vistrelle::ui {

// The 420 by 620 main window.  It shows one content at a time (home, the
// glasses panel, the firmware update) and keeps the others alive with their
// state; a content nobody registered shows empty.  Closing it asks the
// delegate what to do.
class HomeWindow final : public QWidget, public AppWindow {
  Q_OBJECT

 public:
  // `shouldQuitOnClose` answers true when closing the window ends the
  // application, false when the window only hides.
  explicit HomeWindow(std::function<bool()> shouldQuitOnClose);

  void showCentered() override;
  void bringToFront() override;
  bool isVisible() const override { return QWidget::isVisible(); }
  void setContent(WindowContent content) override;
  WindowContent content() const override { return content_; }

  // The window takes `widget` (replacing and deleting an earlier one).
  void registerContent(WindowContent content, QWidget* widget);
  QWidget* contentWidget(WindowContent content) const;
  // What the window shows now (the empty view for an unregistered content).
  QWidget* currentContentWidget() const;

  static constexpr int kWidth = 420;
  static constexpr int kHeight = 620;

 signals:
  // Another content took the window.
  void contentChanged(vistrelle::WindowContent content);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* slotWidget(WindowContent content) const;

  std::function<bool()> shouldQuitOnClose_;
  QStackedLayout* stack_;
  QWidget* empty_;
  std::array<QWidget*, 3> contents_{};
  WindowContent content_ = WindowContent::home;
};

}  // namespace vistrelle::ui
