#include "ui/orvex_temperature_drift_calibration_view.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "app/brightness_control.h"
#include "app/calibration/temperature_drift_restore.h"
#include "base/helpers/language_bundle.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/state/main_state.h"
#include "platform/message/transient_message.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/image_catalog.h"
#include "ui/light_palette.h"
#include "ui/rounded_color_view.h"
#include "ui/spinning_progress_indicator_layer.h"
#include "ui/widget_text.h"

namespace vistrelle::ui {
namespace {

constexpr int kCloseSize = 24;
constexpr int kResetWidth = 180;
constexpr int kResetHeight = 36;
constexpr int kSpinnerSize = 48;
constexpr int kTextInset = 20;

QLabel* makeLabel(QWidget* parent, const QRect& frame, int pixelSize, const QColor& colour) {
  auto* label = new QLabel(parent);
  label->setGeometry(frame);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  label->setFont(systemFont(pixelSize));
  setTextColour(label, colour);
  return label;
}

RoundedColorView* makeBox(QWidget* parent, const QRect& frame) {
  auto* box = new RoundedColorView(parent);
  box->setGeometry(frame);
  box->setBackgroundColor(hexColor("#EEF1F7"));
  box->setCornerRadius(24);
  return box;
}

}  // namespace

// The panel's pointer watch over its window's own events (the window system's
// moves and releases, before Qt hands them to the widget under the pointer).
// It lives and dies with the panel.
class OrvexTemperatureDriftCalibrationView::HoverWatch final : public QObject {
 public:
  explicit HoverWatch(OrvexTemperatureDriftCalibrationView* view) : QObject(view), view_(view) {
    qApp->installEventFilter(this);
  }
  ~HoverWatch() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) return false;
    const QWindow* own = view_->window()->windowHandle();
    if (own == nullptr || watched != own) return false;
    view_->updateCloseButtonHover(static_cast<const QMouseEvent&>(*event));
    return false;  // the event goes on unchanged
  }

 private:
  OrvexTemperatureDriftCalibrationView* view_;
};

OrvexTemperatureDriftCalibrationView::OrvexTemperatureDriftCalibrationView(
    QWidget* parent, Dependencies dependencies)
    : QWidget(parent),
      dependencies_(std::move(dependencies)),
      state_(dependencies_.state ? *dependencies_.state : MainState::shared()) {
  setObjectName("OrvexTemperatureDriftCalibrationView");
  setupUI();
  if (parent) {
    setGeometry(parent->rect());
    parent->installEventFilter(this);
  }
  raise();
  show();
}

OrvexTemperatureDriftCalibrationView::~OrvexTemperatureDriftCalibrationView() {
  timer_.cancel();
  removeHoverWatch();
}

void OrvexTemperatureDriftCalibrationView::setupUI() {
  // 1. The veil over what lies beneath is drawn in paintEvent.
  // 2. The box.
  contentBgView_ = makeBox(this, QRect(0, 0, kContentWidth, kContentHeight));
  contentBgView_->setObjectName("contentBgView");

  // 3. Close, at the box's top right.
  closeButton_ = new FlatButton(QString(), contentBgView_);
  closeButton_->setObjectName("closeButton");
  closeButton_->setGeometry(kContentWidth - kCloseSize - 16, 16, kCloseSize, kCloseSize);
  closeButton_->setIconSize(QSize(kCloseSize, kCloseSize));
  closeButton_->setIcon(ImageCatalog::icon("close"));
  closeButton_->setCursor(Qt::PointingHandCursor);
  connect(closeButton_, &QPushButton::clicked, this, [this] { closeButtonClick(); });

  // 4. The instruction.
  tipsLabel_ = new QLabel(contentBgView_);
  tipsLabel_->setObjectName("tipsLabel");
  tipsLabel_->setGeometry(kTextInset, 64, kContentWidth - 2 * kTextInset, 96);
  tipsLabel_->setWordWrap(true);
  tipsLabel_->setTextFormat(Qt::RichText);
  tipsLabel_->setAlignment(Qt::AlignCenter);
  setTips(localized("将眼镜摘下\n平放在桌上并保持静止"));

  // 5. Restore.
  resetButton_ = new FlatButton(localized("恢复默认值"), contentBgView_);
  resetButton_->setObjectName("resetButton");
  resetButton_->setGeometry((kContentWidth - kResetWidth) / 2, 196, kResetWidth, kResetHeight);
  resetButton_->setFont(systemFont(16));
  resetButton_->setCornerRadius(15);
  resetButton_->setCursor(Qt::PointingHandCursor);
  resetButtonLook();
  connect(resetButton_, &QPushButton::clicked, this, [this] { resetButtonClick(); });

  const QRect whole(0, 0, kContentWidth, kContentHeight);
  const int textWidth = kContentWidth - 2 * kTextInset;
  // 6. Calibrating, hidden.
  loadingBgView_ = makeBox(contentBgView_, whole);
  loadingBgView_->setObjectName("loadingBgView");
  loadingBgView_->hide();
  progressIndicator_ = new SpinningProgressIndicatorLayer(loadingBgView_);
  progressIndicator_->setGeometry((kContentWidth - kSpinnerSize) / 2, 64, kSpinnerSize,
                                  kSpinnerSize);
  progressIndicator_->setNumFins(12);
  progressIndicator_->setForeColor(QColor(0x3A, 0x3A, 0x3C));
  progressIndicator_->startAnimation();
  tipsLabel1_ = makeLabel(loadingBgView_, QRect(kTextInset, 136, textWidth, 30), 20, Qt::black);
  tipsLabel1_->setText(localized("正在校准"));
  tipsLabel2_ =
      makeLabel(loadingBgView_, QRect(kTextInset, 172, textWidth, 24), 14, hexColor("#8E8E93"));
  tipsLabel2_->setText(localized("请勿移动眼镜"));

  // 7. Calibrated, hidden.
  successBgView_ = makeBox(contentBgView_, whole);
  successBgView_->setObjectName("successBgView");
  successBgView_->hide();
  tipsLabel3_ = makeLabel(successBgView_, QRect(kTextInset, 100, textWidth, 30), 20, Qt::black);
  tipsLabel3_->setText(localized("校准成功"));
  tipsLabel4_ =
      makeLabel(successBgView_, QRect(kTextInset, 140, textWidth, 24), 14, hexColor("#8E8E93"));
  tipsLabel4_->setText(localized("可以继续使用眼镜"));

  // 8. The pointer watch.
  hoverWatch_ = new HoverWatch(this);
}

void OrvexTemperatureDriftCalibrationView::setTips(const QString& text) {
  tipsLabel_->clear();
  const bool chinese =
      base::rawValue(base::OrvexLocalizationHelper::shared().language()) == "zh-Hans";
  tipsLabel_->setFont(systemFont(chinese ? 20 : 18));
  setTextColour(tipsLabel_, hexColor("#000000"));
  // Rich text is the label's way to a line spacing: the extra distance
  // between lines, in pixels.
  tipsLabel_->setText(
      QString("<p align=\"center\" style=\"-qt-line-height-type: line-distance; line-height: "
              "5px;\">%1</p>")
          .arg(text.toHtmlEscaped().replace('\n', "<br>")));
}

void OrvexTemperatureDriftCalibrationView::resetButtonLook() {
  resetButton_->setBackgroundColor(hexColor("#FFFFFF"));
  resetButton_->setTitleColor(hexColor("#000000", 0.4));
  closeButton_->setIcon(ImageCatalog::icon("close"));
}

void OrvexTemperatureDriftCalibrationView::updateCloseButtonHover(const QMouseEvent& event) {
  if (closed_) return;
  // Positions of the window's own events are in the window's coordinates.
  const QPoint inWindow = event.position().toPoint();
  if (event.type() == QEvent::MouseMove && event.buttons() == Qt::NoButton) {
    resetButtonLook();
    const QPoint inBox = contentBgView_->mapFrom(window(), inWindow);
    if (resetButton_->geometry().contains(inBox)) {
      resetButton_->setBackgroundColor(hexColor("#018DFF"));
      resetButton_->setTitleColor(hexColor("#FFFFFF"));
    } else if (closeButton_->geometry().contains(inBox)) {
      closeButton_->setIcon(ImageCatalog::icon("close_hover"));
    }
    return;
  }
  if (event.type() == QEvent::MouseButtonRelease && event.button() == Qt::LeftButton) {
    const QPoint inView = mapFrom(window(), inWindow);
    if (!contentBgView_->geometry().contains(inView) && !successBgView_->isHidden()) closeView();
  }
}

void OrvexTemperatureDriftCalibrationView::resetFields() {
  calibrateStatus_ = -1;
  timer_.cancel();
  timer_ = {};
  errorDataCount_ = 0;
}

void OrvexTemperatureDriftCalibrationView::closeView() {
  if (closed_) return;
  closed_ = true;
  resetFields();
  if (state_.privacyScreenLockButtonState.load() == 1 && dependencies_.brightness) {
    dependencies_.brightness->closeBuiltinBrightness();
  }
  removeHoverWatch();
  if (closeCallBack) {
    const std::function<void()> callBack = closeCallBack;
    callBack();
  }
  if (parentWidget()) parentWidget()->removeEventFilter(this);
  hide();
  setParent(nullptr);
  deleteLater();
}

void OrvexTemperatureDriftCalibrationView::restoreDefaults() {
  if (closed_) return;
  resetFields();
  const std::shared_ptr<TemperatureDriftRestore> restore =
      dependencies_.restore ? dependencies_.restore : temperatureDriftRestore();
  if (restore) {
    restore->restoreDefaults();
  } else {
    // Without the restore road there is no command layer to reach the glasses.
    message::TransientMessage::show(base::LanguageBundle::shared().localizedStringForKey(
        TemperatureDriftRestore::kRestoreFailedText));
  }
  closeView();
}

void OrvexTemperatureDriftCalibrationView::removeHoverWatch() {
  if (!hoverWatch_) return;
  // Out of the application's filters now; the object goes once the event
  // that may be running through it is done.
  qApp->removeEventFilter(hoverWatch_);
  hoverWatch_->deleteLater();
  hoverWatch_ = nullptr;
}

bool OrvexTemperatureDriftCalibrationView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(parentWidget()->rect());
  }
  return QWidget::eventFilter(watched, event);
}

void OrvexTemperatureDriftCalibrationView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), hexColor("#000000", 0.4));
}

void OrvexTemperatureDriftCalibrationView::resizeEvent(QResizeEvent* event) {
  contentBgView_->move((width() - kContentWidth) / 2, (height() - kContentHeight) / 2);
  QWidget::resizeEvent(event);
}

}  // namespace vistrelle::ui
