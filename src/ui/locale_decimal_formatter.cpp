#include "ui/locale_decimal_formatter.h"

namespace vistrelle::ui {

DecimalFormatter localeDecimalFormatter(const QLocale& locale) {
  return [locale](double value) -> std::optional<std::string> {
    const auto rounded = roundToSignificantDigits(value);
    if (!rounded) return std::nullopt;
    return locale.toString(rounded->value, 'f', rounded->decimals).toStdString();
  };
}

}  // namespace vistrelle::ui
