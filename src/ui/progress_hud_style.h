#pragma once

#include <QColor>

namespace vistrelle::ui {

// The progress HUD's colour scheme: light (black on white), dark (light grey
// on black) or two colours of the caller's.  The cases in their stored order.
class ProgressHUDStyle {
 public:
  enum class Kind { light, dark, custom };

  static ProgressHUDStyle light() { return ProgressHUDStyle(Kind::light); }
  static ProgressHUDStyle dark() { return ProgressHUDStyle(Kind::dark); }
  static ProgressHUDStyle custom(QColor foreground, QColor backgroud) {
    return ProgressHUDStyle(Kind::custom, foreground, backgroud);
  }

  Kind kind() const { return kind_; }
  // The custom case's colours (the second is spelled as the case has it).
  QColor foreground() const { return foreground_; }
  QColor backgroud() const { return backgroud_; }

  // Text, spinner fins, ring and glyphs.
  QColor foregroundColor() const;
  // The box, at alpha `opacity` whatever alpha the colour had.
  QColor boxColor(double opacity) const;

 private:
  explicit ProgressHUDStyle(Kind kind, QColor foreground = {}, QColor backgroud = {})
      : kind_(kind), foreground_(foreground), backgroud_(backgroud) {}

  Kind kind_;
  QColor foreground_;
  QColor backgroud_;
};

}  // namespace vistrelle::ui
