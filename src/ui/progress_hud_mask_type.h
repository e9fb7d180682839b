#pragma once

#include <QColor>
#include <optional>

namespace vistrelle::ui {

// What covers the container behind the HUD's box, and whether clicks there
// reach what lies behind (only with none).  The cases in their stored order.
class ProgressHUDMaskType {
 public:
  enum class Kind { none, clear, black, custom };

  static ProgressHUDMaskType none() { return ProgressHUDMaskType(Kind::none); }
  static ProgressHUDMaskType clear() { return ProgressHUDMaskType(Kind::clear); }
  static ProgressHUDMaskType black() { return ProgressHUDMaskType(Kind::black); }
  static ProgressHUDMaskType custom(QColor color) {
    return ProgressHUDMaskType(Kind::custom, color);
  }

  Kind kind() const { return kind_; }
  QColor color() const { return color_; }

  // The colour laid over the container: black at 0.6, the custom colour, or
  // nothing for none and clear.
  std::optional<QColor> fill() const {
    if (kind_ == Kind::black) return QColor(0, 0, 0, 153);
    if (kind_ == Kind::custom) return color_;
    return std::nullopt;
  }

 private:
  explicit ProgressHUDMaskType(Kind kind, QColor color = {}) : kind_(kind), color_(color) {}

  Kind kind_;
  QColor color_;
};

}  // namespace vistrelle::ui
