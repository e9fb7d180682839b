#pragma once

#include "ui/flat_button.h"

namespace vistrelle::ui {

// A flat button that lights up while the pointer is over it: blue at 0.6
// with a white title, else light grey ("#e7e9e7") with a black one; corners
// of 3.
class OrvexHoverButton : public FlatButton {
  Q_OBJECT

 public:
  explicit OrvexHoverButton(const QString& title = {}, QWidget* parent = nullptr);

  // The two looks, as the pointer entering and leaving sets them.
  void showHoverLook();
  void showNormalLook();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
};

}  // namespace vistrelle::ui
