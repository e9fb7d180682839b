#include "ui/only_integer_value_formatter.h"

#include "platform/notify/notification_center.h"

namespace vistrelle::ui {

QValidator::State OnlyIntegerValueFormatter::validate(QString& input, int&) const {
  NotificationCenter::defaultCenter().post("TextFieldChangeValue_Formatter_NSNotificationName",
                                           Value(1));
  for (QChar c : input) {
    if (c < QChar('0') || c > QChar('9')) return Invalid;
  }
  return Acceptable;
}

}  // namespace vistrelle::ui
