#pragma once

#include <QColor>
#include <optional>
#include <string_view>

namespace vistrelle::ui {

// Colours as the panels write them: "#5C5C5C", "5c5c5c", " #5C5C5CFF ".
// Only the hexadecimal digits of the text count.  Six digits are RGB with
// alpha 1.0; eight are RGBA, the last two the alpha.  Any other count of
// digits gives no colour.
std::optional<QColor> colorFromHex(std::string_view text);
// The same with an explicit alpha (0..1), which also replaces the alpha digits
// of an eight-digit text.
std::optional<QColor> colorFromHex(std::string_view text, double alpha);

// For the fixed colour constants of the panels: a constant that does not parse
// is a programming error and stops the program.
QColor hexColor(std::string_view text, double alpha = 1.0);

}  // namespace vistrelle::ui
