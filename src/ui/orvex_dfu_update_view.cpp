#include "ui/orvex_dfu_update_view.h"

#include <QLabel>
#include <QProgressBar>
#include <cmath>

#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/home_window.h"
#include "ui/image_catalog.h"
#include "ui/light_palette.h"

namespace vistrelle::ui {
namespace {

constexpr int kImageSize = 120;
constexpr int kTextWidth = 360;
constexpr int kButtonWidth = 200;
constexpr int kButtonHeight = 44;
constexpr int kProgressWidth = 300;
constexpr int kProgressHeight = 4;

QColor colour(const std::string& hex) {
  return colorFromHex(hex).value_or(QColor(Qt::black));
}

}  // namespace

OrvexDfuUpdateView::OrvexDfuUpdateView(
    device::OrvexDFUUpdateViewController::Dependencies dependencies, QWidget* parent)
    : QWidget(parent) {
  setObjectName("OrvexDfuUpdateView");
  setFixedSize(HomeWindow::kWidth, HomeWindow::kHeight);
  setAutoFillBackground(true);
  QPalette background = palette();
  background.setColor(QPalette::Window, hexColor("#ECEDEE"));
  setPalette(background);

  const int centre = HomeWindow::kWidth / 2;
  updateImageView_ = new QLabel(this);
  updateImageView_->setGeometry(centre - kImageSize / 2, 110, kImageSize, kImageSize);
  updateImageView_->setAlignment(Qt::AlignCenter);

  tipsLabel1_ = new QLabel(this);
  tipsLabel1_->setGeometry(centre - kTextWidth / 2, 262, kTextWidth, 60);
  tipsLabel1_->setWordWrap(true);
  tipsLabel1_->setTextFormat(Qt::RichText);
  tipsLabel1_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

  tipsLabel2_ = new QLabel(this);
  tipsLabel2_->setGeometry(centre - kTextWidth / 2, 330, kTextWidth, 24);
  tipsLabel2_->setAlignment(Qt::AlignCenter);
  tipsLabel2_->setFont(systemFont(14));
  QPalette secondary = tipsLabel2_->palette();
  secondary.setColor(QPalette::WindowText, hexColor("#8E8E93"));
  tipsLabel2_->setPalette(secondary);

  progressIndicator_ = new QProgressBar(this);
  progressIndicator_->setGeometry(centre - kProgressWidth / 2, 420, kProgressWidth,
                                  kProgressHeight);
  progressIndicator_->setRange(0, 100);  // determinate
  progressIndicator_->setTextVisible(false);
  progressIndicator_->setStyleSheet(
      "QProgressBar { border: none; border-radius: 1px; background: #D1D1D6; }"
      "QProgressBar::chunk { border-radius: 1px; background: #068EFF; }");

  updateButton_ = new FlatButton(QString(), this);
  updateButton_->setGeometry(centre - kButtonWidth / 2, 470, kButtonWidth, kButtonHeight);
  updateButton_->setCornerRadius(6);
  updateButton_->setFont(systemFont(16));
  updateButton_->setCursor(Qt::PointingHandCursor);

  controller_ =
      std::make_unique<device::OrvexDFUUpdateViewController>(*this, std::move(dependencies));
  connect(updateButton_, &QPushButton::clicked, this, [this] { controller_->updateButtonClick(); });
  controller_->viewDidLoad();
}

OrvexDfuUpdateView::~OrvexDfuUpdateView() {
  // The logic goes first: it still reaches the widgets while it stops.
  controller_.reset();
}

void OrvexDfuUpdateView::setImage(const std::string& name) {
  updateImageView_->setPixmap(
      ImageCatalog::pixmap(QString::fromStdString(name), devicePixelRatioF()));
}

void OrvexDfuUpdateView::setTipsText(const std::string& text, const device::DfuTipsStyle& style) {
  tipsLabel1_->setFont(systemFont(style.fontPixelSize));
  QPalette textPalette = tipsLabel1_->palette();
  textPalette.setColor(QPalette::WindowText, colour(style.color));
  tipsLabel1_->setPalette(textPalette);
  // Rich text is the label's way to a line spacing: the extra distance
  // between lines, in pixels.
  tipsLabel1_->setText(
      QString("<p align=\"%1\" style=\"-qt-line-height-type: line-distance; line-height: %2px;\">"
              "%3</p>")
          .arg(style.centred ? "center" : "left")
          .arg(std::lround(style.lineSpacing))
          .arg(QString::fromStdString(text).toHtmlEscaped()));
}

void OrvexDfuUpdateView::setTips2Text(const std::string& text) {
  tipsLabel2_->setText(QString::fromStdString(text));
}

void OrvexDfuUpdateView::setButtonHidden(bool hidden) {
  updateButton_->setHidden(hidden);
}

void OrvexDfuUpdateView::setButtonTitle(const std::string& title, const std::string& tint) {
  updateButton_->setText(QString::fromStdString(title));
  updateButton_->setTitleColor(colour(tint));
}

void OrvexDfuUpdateView::setButtonBackground(const std::string& color) {
  updateButton_->setBackgroundColor(colour(color));
}

void OrvexDfuUpdateView::setProgressHidden(bool hidden) {
  progressIndicator_->setHidden(hidden);
}

void OrvexDfuUpdateView::setProgressValue(double percent) {
  progressIndicator_->setValue(static_cast<int>(std::lround(percent)));
}

}  // namespace vistrelle::ui
