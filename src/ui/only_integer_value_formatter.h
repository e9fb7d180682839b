#pragma once

#include <QValidator>

namespace vistrelle::ui {

// Digits only: accepts the empty text and runs of "0123456789", refuses the
// rest (signs, points, spaces, other scripts' digits) and proposes nothing in
// their place.  Every check posts
// "TextFieldChangeValue_Formatter_NSNotificationName" with the number 1.
class OnlyIntegerValueFormatter : public QValidator {
  Q_OBJECT

 public:
  explicit OnlyIntegerValueFormatter(QObject* parent = nullptr) : QValidator(parent) {}

  State validate(QString& input, int& position) const override;
};

}  // namespace vistrelle::ui
