#pragma once

#include <QWidget>

namespace vistrelle::ui {

// A plain view laid out from its top left corner (as every Qt widget is).
class TopAlignedView : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
};

}  // namespace vistrelle::ui
