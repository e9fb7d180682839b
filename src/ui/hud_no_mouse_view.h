#pragma once

#include <QWidget>

namespace vistrelle::ui {

// A layer that takes every click, press, wheel turn and double click that
// reaches it, so that nothing under it in the window sees them.
class HUDNoMouseView : public QWidget {
  Q_OBJECT

 public:
  explicit HUDNoMouseView(QWidget* parent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
};

}  // namespace vistrelle::ui
