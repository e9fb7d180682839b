#pragma once

#include <QWidget>

namespace vistrelle::ui {

// An empty view with no behaviour of its own.
class ViewController : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;
};

}  // namespace vistrelle::ui
