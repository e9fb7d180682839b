#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace vistrelle::ui {

// The text of a HUD: drawn in its own font and colour with the given
// alignment and wrapping flags, clipped to its frame, never taking the mouse.
class HUDLabel final : public QWidget {
  Q_OBJECT

 public:
  explicit HUDLabel(QWidget* parent = nullptr);

  const QString& text() const { return text_; }
  void setText(const QString& text);
  QColor textColor() const { return textColor_; }
  void setTextColor(const QColor& colour);
  // Qt::AlignmentFlag and Qt::TextFlag values, as QPainter::drawText takes.
  int textFlags() const { return textFlags_; }
  void setTextFlags(int flags);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QColor textColor_ = Qt::black;
  int textFlags_ = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
};

}  // namespace vistrelle::ui
