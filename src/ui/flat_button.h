#pragma once

#include <QColor>
#include <QPushButton>

namespace vistrelle::ui {

// A push button drawn flat: a rounded fill, its title (and icon) on it, no
// frame.  The panels set its colours as their states change.
class FlatButton : public QPushButton {
  Q_OBJECT

 public:
  explicit FlatButton(const QString& title = {}, QWidget* parent = nullptr);

  QColor backgroundColor() const { return background_; }
  void setBackgroundColor(const QColor& colour);
  QColor titleColor() const { return title_; }
  void setTitleColor(const QColor& colour);
  double cornerRadius() const { return radius_; }
  void setCornerRadius(double radius);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor background_ = Qt::transparent;
  QColor title_ = Qt::black;
  double radius_ = 0;
};

}  // namespace vistrelle::ui
