#include "ui/glass_settings_widget.h"

#include <QLabel>
#include <QPushButton>
#include <cmath>

#include "app/orvex_glass_connect_success_popover_view_controller.h"
#include "app/orvex_glass_connect_success_view_controller.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/home_window.h"
#include "ui/image_catalog.h"
#include "ui/light_palette.h"
#include "ui/locale_decimal_formatter.h"
#include "ui/rounded_color_view.h"
#include "ui/slider_track.h"
#include "ui/widget_text.h"

namespace vistrelle::ui {
namespace {

constexpr int kTrackHeight = 20;
constexpr int kToggleWidth = 40;
constexpr int kToggleHeight = 24;
constexpr int kMarkSize = 16;

GlassSettingsController::Environment withFormatter(GlassSettingsController::Environment env) {
  if (!env.formatter) env.formatter = localeDecimalFormatter(QLocale::system());
  return env;
}

}  // namespace

GlassSettingsWidget::GlassSettingsWidget(const GlassSettingsVariant& variant,
                                         GlassSettingsController::Environment environment,
                                         QWidget* parent)
    : QWidget(parent), isPanel_(variant.isPanel) {
  setObjectName(isPanel_ ? "OrvexGlassConnectSuccessView" : "OrvexGlassConnectSuccessPopoverView");
  setAutoFillBackground(true);
  QPalette background = palette();
  background.setColor(QPalette::Window, hexColor("#ECEDEE"));
  setPalette(background);
  if (isPanel_) {
    buildPanel();
    controller_ = std::make_unique<OrvexGlassConnectSuccessViewController>(
        *this, withFormatter(std::move(environment)));
  } else {
    buildPopover();
    controller_ = std::make_unique<OrvexGlassConnectSuccessPopoverViewController>(
        *this, withFormatter(std::move(environment)));
  }
  for (auto& [slider, parts] : sliders_) {
    parts.track->setHandler([this, slider = slider](SliderTrack::Gesture gesture, double x) {
      using Pan = GlassSettingsController::PanState;
      switch (gesture) {
        case SliderTrack::Gesture::panBegan:
          controller_->panGestureRecognizer(slider, Pan::began, x);
          break;
        case SliderTrack::Gesture::panChanged:
          controller_->panGestureRecognizer(slider, Pan::changed, x);
          break;
        case SliderTrack::Gesture::panEnded:
          controller_->panGestureRecognizer(slider, Pan::ended, x);
          break;
        case SliderTrack::Gesture::panCancelled:
          controller_->panGestureRecognizer(slider, Pan::cancelled, x);
          break;
        case SliderTrack::Gesture::click:
          controller_->clickGestureRecognizer(slider, x);
          break;
      }
    });
  }
  for (int mode = 0; mode < 3; ++mode) {
    connect(modeButtons_[mode], &QPushButton::clicked, this,
            [this, mode] { controller_->modelChangeClick(mode); });
  }
  // A checkable button has flipped its state when it reports the click.
  connect(privacyScreenLockButton_, &QPushButton::clicked, this,
          [this](bool checked) { controller_->privacyScreenLockButtonClick(checked ? 1 : 0); });
  if (exitButton_) {
    connect(exitButton_, &QPushButton::clicked, this, [this] { controller_->exitButtonClick(); });
  }
}

GlassSettingsWidget::~GlassSettingsWidget() {
  // The logic goes first: its observers still reach the widgets.
  controller_.reset();
}

void GlassSettingsWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  controller_->viewDidLoad();
}

// ---- Layout ----

void GlassSettingsWidget::buildPanel() {
  setFixedSize(HomeWindow::kWidth, HomeWindow::kHeight);
  const int centre = HomeWindow::kWidth / 2;

  imgView_ = new QLabel(this);
  imgView_->setGeometry(centre - 80, 40, 160, 100);
  imgView_->setPixmap(ImageCatalog::pixmap("glasses", devicePixelRatioF()));
  nameLabel_ = new QLabel(this);
  nameLabel_->setGeometry(20, 150, 380, 26);
  nameLabel_->setAlignment(Qt::AlignCenter);
  nameLabel_->setFont(systemFont(18, true));
  firmwareVersionLable_ = new QLabel(this);
  firmwareVersionLable_->setGeometry(20, 178, 380, 20);
  firmwareVersionLable_->setAlignment(Qt::AlignCenter);
  firmwareVersionLable_->setFont(systemFont(13));
  setTextColour(firmwareVersionLable_, hexColor("#8E8E93"));

  RoundedColorView* depth = makeRow(QRect(20, 214, 380, 60), 10);
  addTitle(depth, "深度", 0, 60);
  addSlider(SettingsSlider::depth, depth, 380 - 20 - 131, 20);
  QLabel* depthValue = new QLabel(depth);
  depthValue->setGeometry(160, 0, 60, 60);
  depthValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  depthValue->setFont(systemFont(13));
  depthValue->hide();
  sliders_[SettingsSlider::depth].value = depthValue;

  modeBgView_ = makeRow(QRect(20, 290, 380, 128), 10);
  addTitle(modeBgView_, "模式", 10, 24);
  addModeButtons(modeBgView_, 16, 44, 108, 68, 12);

  privacyScreenBgView_ = makeRow(QRect(20, 434, 380, 60), 10);
  addTitle(privacyScreenBgView_, "隐私屏", 0, 60);
  addPrivacyToggle(privacyScreenBgView_, 380 - 16 - kToggleWidth, (60 - kToggleHeight) / 2);

  // The temporal filter's tuning: kept for development, never shown.
  const SettingsSlider filters[] = {SettingsSlider::alpha, SettingsSlider::eta,
                                    SettingsSlider::sceneChangeThresh};
  int y = 510;
  for (SettingsSlider slider : filters) {
    RoundedColorView* row = makeRow(QRect(20, y, 380, 32), 10);
    addSlider(slider, row, 380 - 20 - 131, (32 - kTrackHeight) / 2);
    QLabel* value = new QLabel(row);
    value->setGeometry(16, 0, 200, 32);
    value->setFont(systemFont(13));
    sliders_[slider].value = value;
    row->hide();
    y += 36;
  }
}

void GlassSettingsWidget::buildPopover() {
  setFixedSize(kPopoverWidth, kPopoverHeight);
  RoundedColorView* depth = makeRow(QRect(0, 8, kPopoverWidth, 52), 0);
  addTitle(depth, "深度", 0, 52);
  addSlider(SettingsSlider::depth, depth, kPopoverWidth - 12 - 71, (52 - kTrackHeight) / 2);

  modeBgView_ = makeRow(QRect(0, 64, kPopoverWidth, 100), 0);
  addTitle(modeBgView_, "模式", 6, 24);
  addModeButtons(modeBgView_, 12, 34, 68, 56, 8);

  privacyScreenBgView_ = makeRow(QRect(0, 168, kPopoverWidth, 48), 0);
  addTitle(privacyScreenBgView_, "隐私屏", 0, 48);
  addPrivacyToggle(privacyScreenBgView_, kPopoverWidth - 12 - kToggleWidth,
                   (48 - kToggleHeight) / 2);

  exitButton_ = new FlatButton(localized("退出Vistrelle"), this);
  exitButton_->setObjectName("exitButton");
  exitButton_->setGeometry(20, 224, kPopoverWidth - 40, 40);
  exitButton_->setBackgroundColor(hexColor("#FFFFFF", 0.6));
  exitButton_->setCornerRadius(20);
  exitButton_->setTitleColor(Qt::black);
  exitButton_->setFont(systemFont(15));
  exitButton_->setCursor(Qt::PointingHandCursor);
}

RoundedColorView* GlassSettingsWidget::makeRow(const QRect& geometry, double radius) {
  auto* row = new RoundedColorView(this);
  row->setGeometry(geometry);
  row->setBackgroundColor(hexColor("#FFFFFF", 0.6));
  row->setCornerRadius(radius);
  return row;
}

QLabel* GlassSettingsWidget::addTitle(QWidget* row, const char* key, int y, int height) {
  auto* title = new QLabel(localized(key), row);
  title->setGeometry(isPanel_ ? 16 : 12, y, 140, height);
  title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  title->setFont(systemFont(15));
  return title;
}

void GlassSettingsWidget::addSlider(SettingsSlider slider, RoundedColorView* row, int trackX,
                                    int trackY) {
  const int length = static_cast<int>(isPanel_ ? GlassSettingsVariant::kPanelDepthTrack
                                               : GlassSettingsVariant::kPopoverDepthTrack);
  Slider& parts = sliders_[slider];
  parts.row = row;
  parts.track = new SliderTrack(row);
  parts.track->setGeometry(trackX, trackY, length, kTrackHeight);
  parts.knob = new QLabel(row);
  parts.knob->setPixmap(ImageCatalog::pixmap("slider_point", devicePixelRatioF()));
  parts.knob->setFixedSize(kKnobSize, kKnobSize);
  // The track under it takes the pointer.
  parts.knob->setAttribute(Qt::WA_TransparentForMouseEvents);
  parts.knob->move(trackX - 7, trackY);
  parts.knob->raise();
}

void GlassSettingsWidget::addModeButtons(QWidget* row, int x, int y, int width, int height,
                                         int gap) {
  const char* titles[] = {"网页", "游戏", "视频"};
  for (int mode = 0; mode < 3; ++mode) {
    auto* button = new FlatButton(localized(titles[mode]), row);
    button->setGeometry(x + mode * (width + gap), y, width, height);
    button->setBackgroundColor(Qt::white);
    button->setCornerRadius(8);
    button->setTitleColor(Qt::black);
    button->setFont(systemFont(14));
    button->setCursor(Qt::PointingHandCursor);
    auto* mark = new QLabel(button);
    mark->setPixmap(ImageCatalog::pixmap("mode_selected", devicePixelRatioF()));
    mark->setGeometry(width - kMarkSize - 4, 4, kMarkSize, kMarkSize);
    mark->setAttribute(Qt::WA_TransparentForMouseEvents);
    mark->hide();
    modeButtons_[mode] = button;
    modeMarks_[mode] = mark;
  }
}

void GlassSettingsWidget::addPrivacyToggle(QWidget* row, int x, int y) {
  privacyScreenLockButton_ = new QPushButton(row);
  privacyScreenLockButton_->setObjectName("privacyScreenLockButton");
  privacyScreenLockButton_->setCheckable(true);
  privacyScreenLockButton_->setFlat(true);
  privacyScreenLockButton_->setGeometry(x, y, kToggleWidth, kToggleHeight);
  privacyScreenLockButton_->setIconSize(QSize(kToggleWidth, kToggleHeight));
  privacyScreenLockButton_->setStyleSheet("QPushButton { border: none; background: transparent; }");
  privacyScreenLockButton_->setCursor(Qt::PointingHandCursor);
  privacyScreenLockButton_->setFocusPolicy(Qt::NoFocus);
  setPrivacyToggle(0, "Toggle_Off");
}

// ---- The controller's view ----

double GlassSettingsWidget::trackWidth(SettingsSlider slider) const {
  const auto found = sliders_.find(slider);
  return found == sliders_.end() ? 0 : found->second.track->width();
}

double GlassSettingsWidget::knobWidth(SettingsSlider slider) const {
  const auto found = sliders_.find(slider);
  return found == sliders_.end() ? 0 : found->second.knob->width();
}

void GlassSettingsWidget::setKnobOffset(SettingsSlider slider, double offset) {
  const auto found = sliders_.find(slider);
  if (found == sliders_.end()) return;
  Slider& parts = found->second;
  parts.offset = offset;
  const QRect track = parts.track->geometry();
  parts.knob->move(track.x() + static_cast<int>(std::lround(offset)),
                   track.y() + (track.height() - parts.knob->height()) / 2);
}

void GlassSettingsWidget::setValueText(SettingsSlider slider, const std::string& text) {
  const auto found = sliders_.find(slider);
  if (found != sliders_.end() && found->second.value) {
    found->second.value->setText(QString::fromStdString(text));
  }
}

void GlassSettingsWidget::setModeMarkHidden(int mode, bool hidden) {
  if (mode >= 0 && mode < 3) modeMarks_[mode]->setHidden(hidden);
}

void GlassSettingsWidget::setPrivacyToggle(int state, const std::string& imageName) {
  privacyScreenLockButton_->setChecked(state == 1);
  privacyScreenLockButton_->setIcon(ImageCatalog::icon(QString::fromStdString(imageName)));
  privacyImage_ = imageName;
}

void GlassSettingsWidget::setGlassName(const std::string& name) {
  if (nameLabel_) nameLabel_->setText(QString::fromStdString(name));
}

void GlassSettingsWidget::setFirmwareText(const std::string& text) {
  if (firmwareVersionLable_) firmwareVersionLable_->setText(QString::fromStdString(text));
}

// ---- Access ----

SliderTrack* GlassSettingsWidget::track(SettingsSlider slider) const {
  const auto found = sliders_.find(slider);
  return found == sliders_.end() ? nullptr : found->second.track;
}

QLabel* GlassSettingsWidget::knob(SettingsSlider slider) const {
  const auto found = sliders_.find(slider);
  return found == sliders_.end() ? nullptr : found->second.knob;
}

double GlassSettingsWidget::knobOffset(SettingsSlider slider) const {
  const auto found = sliders_.find(slider);
  return found == sliders_.end() ? 0 : found->second.offset;
}

QLabel* GlassSettingsWidget::valueLabel(SettingsSlider slider) const {
  const auto found = sliders_.find(slider);
  return found == sliders_.end() ? nullptr : found->second.value;
}

QWidget* GlassSettingsWidget::row(SettingsSlider slider) const {
  const auto found = sliders_.find(slider);
  return found == sliders_.end() ? nullptr : found->second.row;
}

}  // namespace vistrelle::ui
