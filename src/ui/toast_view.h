#pragma once

#include <QString>
#include <QWidget>

#include "ui/default_style.h"

namespace vistrelle::ui {

// A short message in a dark rounded box, centred over its parent, which it
// covers.  It never takes the mouse: the controls under it keep working while
// it is shown.
class ToastView final : public QWidget {
  Q_OBJECT

 public:
  explicit ToastView(QString message, QWidget* parent = nullptr);

  const QString& message() const { return message_; }
  // The text's size in the style's font: one line as wide as it needs
  // without a parent; wrapped to fit inside the parent once it has one.  An
  // empty message measures 0 x 0.
  QSize labelSize() const { return labelSize_; }
  const DefaultStyle& style() const { return style_; }
  // The box in the toast's own coordinates.
  QRectF boxRect() const;

  // Lays the toast out over its parent: covers it, measures the text for its
  // width.
  void layoutInParent();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QSize measure(int maxWidth) const;
  int textFlags() const;

  QString message_;
  DefaultStyle style_;
  QSize labelSize_;
  bool wrapAnywhere_ = false;
};

}  // namespace vistrelle::ui
