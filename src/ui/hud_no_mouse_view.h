#pragma once

#include <QColor>
#include <QWidget>

namespace vistrelle::ui {

// A layer that takes every click, press, wheel turn and double click that
// reaches it, so that nothing under it in the window sees them.  Made with a
// parent (or given one later) it covers the parent and keeps covering it as
// the parent resizes; it may be tinted.
class HUDNoMouseView : public QWidget {
  Q_OBJECT

 public:
  explicit HUDNoMouseView(QWidget* parent = nullptr);

  // Clear unless set.
  QColor backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const QColor& colour);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void coverParent();

  QColor backgroundColor_ = Qt::transparent;
};

}  // namespace vistrelle::ui
