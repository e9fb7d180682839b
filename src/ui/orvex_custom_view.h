#pragma once

#include <QWidget>

namespace vistrelle::ui {

// A plain view that remembers whether it is selected.
class OrvexCustomView : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;

  bool selected() const { return selected_; }
  void setSelected(bool selected) { selected_ = selected; }

 private:
  bool selected_ = false;
};

}  // namespace vistrelle::ui
