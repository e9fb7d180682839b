#pragma once

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QWidget>

namespace vistrelle::ui {

class HUDLabel;
class SpinningProgressIndicatorLayer;

// A small dark HUD centred in a given view: a message with a success or
// failure image, a white spinner (loading) or nothing above it.  Messages
// hide themselves after 3 s; a loading HUD stays until hide(), optionally
// under a veil that takes the view's clicks.  Class methods only; an
// instance is one box.  Main thread only.
class FNHUD final : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kAutoHideDelay = 3.0;
  static constexpr double kFadeDuration = 0.25;
  static constexpr double kImageSlot = 58;
  static constexpr double kImageSide = 48;
  static constexpr double kMaxTextWidth = 320;
  static constexpr double kMaxTextHeight = 240;
  static constexpr double kMinTextWidth = 120;

  // The class-wide font, margins, list of shown HUDs, colours and images:
  // makes what is not made yet and sets the margins (20 each).  Every entry
  // point runs it first.
  static void setup();

  // A null message or no view shows nothing.
  static void showLoading(const QString& message, bool mask, QWidget* view);
  static void showMessage(const QString& message, QWidget* view);
  static void showSuccess(const QString& message, QWidget* view);
  static void showError(const QString& message, QWidget* view);
  // Every shown HUD fades out and leaves its view.
  static void hide();

  // "#525252", "0x525252", " 525252\n": six hexadecimal digits, after a
  // leading "#" or "0x"/"0X", as red, green and blue, with `alpha`.  Anything
  // else gives a clear colour.
  static QColor colorWithHex(const QString& text, double alpha);

  // The common builder: hides what is shown, builds the box (and the veil
  // with `mask`), fades it in and, with `autoHide`, fades it out 3 s later.
  // A null `image` is none.
  static void createUIWithMsg(const QString& message, const QPixmap& image, QWidget* view,
                              bool mask, bool autoHide);
  // The box for `message` centred in `parentSize`: the text measured within
  // 320 x 240 (wrapped), at least 120 wide, plus the margins, plus 58 for an
  // image slot.
  static QRectF calcRectWithMessage(const QString& message, bool hasImage, QSizeF parentSize);
  static FNHUD* createInstanceWithFrame(const QRectF& frame);

  // The shown HUDs (the veil where there is one, else the box), oldest first.
  static QList<QWidget*> shownHUDs();

  HUDLabel* label() const { return label_; }
  QWidget* imageView() const { return imageView_; }
  SpinningProgressIndicatorLayer* spinner() const { return spinner_; }
  QColor boxColor() const { return boxColor_; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  explicit FNHUD(const QRectF& frame);
  void centreInParent();

  QColor boxColor_;
  HUDLabel* label_ = nullptr;
  QWidget* imageView_ = nullptr;
  SpinningProgressIndicatorLayer* spinner_ = nullptr;
};

}  // namespace vistrelle::ui
