#pragma once

#include <QLabel>

namespace vistrelle::ui {

// A wrapping label whose font shrinks until its text fits its height.  Each
// new text is fitted from the size the label was created with, so a text
// change never shrinks it further than that text needs.  Taking the focus
// posts "notificationName_TextFieldBecomeFirstResponder" with the label's
// object name.
class OrvexAutoFittingTextFieldLabel : public QLabel {
  Q_OBJECT

 public:
  explicit OrvexAutoFittingTextFieldLabel(int pixelSize, QWidget* parent = nullptr);

  // Sets the text and fits the font to it.
  void setText(const QString& text);
  // Fits the font to the current text and size.
  void fitFont();
  int initialPixelSize() const { return initialPixelSize_; }

  // The fitted size for `text` in a label of `size` created at `pixelSize`:
  // shrinking one pixel at a time while the text, wrapped at the width less
  // 50, is taller than the label, then one pixel more; never below 8.
  static int fittedPixelSize(const QString& text, int pixelSize, QSize size);
  static constexpr int kMinimumPixelSize = 8;

 protected:
  void focusInEvent(QFocusEvent* event) override;

 private:
  int initialPixelSize_;
};

}  // namespace vistrelle::ui
