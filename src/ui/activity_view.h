#pragma once

#include <QWidget>

#include "ui/indicator_style.h"

namespace vistrelle::ui {

class SpinningProgressIndicatorLayer;

// A grey veil over its parent with a running spinner in the middle; it takes
// the clicks meant for what it covers while it is shown.
class ActivityView final : public QWidget {
  Q_OBJECT

 public:
  explicit ActivityView(QWidget* parent = nullptr);

  SpinningProgressIndicatorLayer* indicator() const { return indicator_; }
  const IndicatorStyle& style() const { return style_; }
  // Covers the parent, the spinner centred; starts it.
  void layoutInParent();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  SpinningProgressIndicatorLayer* indicator_;
  IndicatorStyle style_ = IndicatorStyle::shared();
};

}  // namespace vistrelle::ui
