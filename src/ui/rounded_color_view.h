#pragma once

#include <QColor>
#include <QWidget>

namespace vistrelle::ui {

// A view filled with one colour, its corners rounded: the panels, tracks and
// bars of the sheets.
class RoundedColorView : public QWidget {
  Q_OBJECT

 public:
  explicit RoundedColorView(QWidget* parent = nullptr);

  QColor backgroundColor() const { return background_; }
  void setBackgroundColor(const QColor& colour);
  double cornerRadius() const { return radius_; }
  void setCornerRadius(double radius);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor background_ = Qt::transparent;
  double radius_ = 0;
};

}  // namespace vistrelle::ui
