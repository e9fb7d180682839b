#pragma once

#include <QColor>
#include <QWidget>

namespace vistrelle::ui {

// A veil over its parent, which it keeps covering as the parent resizes: it
// takes every press and does nothing with it, so nothing under it can be
// clicked while it is up.
class HUDNoMouseView final : public QWidget {
  Q_OBJECT

 public:
  explicit HUDNoMouseView(QWidget* parent = nullptr);

  QColor backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(const QColor& colour);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor backgroundColor_ = Qt::transparent;
};

}  // namespace vistrelle::ui
