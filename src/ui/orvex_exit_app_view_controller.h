#pragma once

#include <QWidget>
#include <functional>

namespace vistrelle::ui {

class FlatButton;

// The status item's right-click view: one button that quits the application.
// The button lights up while the pointer is anywhere over the view, tracked
// through the view's own events, so nothing outlives it.
class OrvexExitAppViewController : public QWidget {
  Q_OBJECT

 public:
  explicit OrvexExitAppViewController(std::function<void()> quit, QWidget* parent = nullptr);

  FlatButton* extiButton() const { return extiButton_; }
  // Updates the button's look for a pointer at `globalPosition`.
  void updateHover(QPointF globalPosition);
  bool isHovered() const { return hovered_; }

  static constexpr int kWidth = 160;
  static constexpr int kHeight = 52;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void setHovered(bool inside);
  void exitAppClick();

  std::function<void()> quit_;
  FlatButton* extiButton_;
  bool hovered_ = false;
};

}  // namespace vistrelle::ui
