#pragma once

#include <QPointer>
#include <QWidget>

namespace vistrelle::ui {

// What the progress HUD's box shows: a view of the caller's, the spinner, the
// progress ring, an information, success or error glyph, or the text alone.
// The cases in their stored order.
class ProgressHUDMode {
 public:
  enum class Kind { custom, indeterminate, determinate, info, success, error, text };

  // The caller keeps the view: the HUD shows it while the mode is in use and
  // hands it back, hidden and without a parent, when the mode changes.
  static ProgressHUDMode custom(QWidget* view) { return ProgressHUDMode(Kind::custom, view); }
  static ProgressHUDMode indeterminate() { return ProgressHUDMode(Kind::indeterminate); }
  static ProgressHUDMode determinate() { return ProgressHUDMode(Kind::determinate); }
  static ProgressHUDMode info() { return ProgressHUDMode(Kind::info); }
  static ProgressHUDMode success() { return ProgressHUDMode(Kind::success); }
  static ProgressHUDMode error() { return ProgressHUDMode(Kind::error); }
  static ProgressHUDMode text() { return ProgressHUDMode(Kind::text); }

  Kind kind() const { return kind_; }
  // The custom case's view (none once it was destroyed).
  QWidget* view() const { return view_; }
  // The modes drawn as a glyph in the box rather than shown as a view.
  bool isGlyph() const {
    return kind_ == Kind::determinate || kind_ == Kind::info || kind_ == Kind::success ||
           kind_ == Kind::error;
  }

 private:
  explicit ProgressHUDMode(Kind kind, QWidget* view = nullptr) : kind_(kind), view_(view) {}

  Kind kind_;
  QPointer<QWidget> view_;
};

}  // namespace vistrelle::ui
