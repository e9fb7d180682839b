#pragma once

#include <QLocale>

#include "app/decimal_text.h"

namespace vistrelle::ui {

// The settings panels' value texts in the user's number format: one to two
// significant digits, never in exponent form ("0.012"; "0,012" where the
// format writes a decimal comma).
DecimalFormatter localeDecimalFormatter(const QLocale& locale = QLocale::system());

}  // namespace vistrelle::ui
