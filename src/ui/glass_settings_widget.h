#pragma once

#include <QWidget>
#include <array>
#include <map>
#include <memory>
#include <string>

#include "app/glass_settings_controller.h"
#include "app/glass_settings_view.h"

class QLabel;
class QPushButton;

namespace vistrelle::ui {

class FlatButton;
class RoundedColorView;
class SliderTrack;

// The glasses settings as widgets: the panel in the main window (glasses
// picture, name and firmware text, then the depth, screen-mode and privacy
// rows, and three filter rows that stay hidden) or the quick controls in the
// status item's popover (the three rows and a quit button).  The logic is
// the controller's, made for the variant; it loads the first time the
// widget shows.
class GlassSettingsWidget final : public QWidget, public GlassSettingsView {
  Q_OBJECT

 public:
  // An empty formatter in `environment` writes the values in the system's
  // number format.
  GlassSettingsWidget(const GlassSettingsVariant& variant,
                      GlassSettingsController::Environment environment, QWidget* parent = nullptr);
  ~GlassSettingsWidget() override;

  GlassSettingsController& controller() { return *controller_; }

  double trackWidth(SettingsSlider slider) const override;
  double knobWidth(SettingsSlider slider) const override;
  void setKnobOffset(SettingsSlider slider, double offset) override;
  void setValueText(SettingsSlider slider, const std::string& text) override;
  void setModeMarkHidden(int mode, bool hidden) override;
  void setPrivacyToggle(int state, const std::string& imageName) override;
  void setGlassName(const std::string& name) override;
  void setFirmwareText(const std::string& text) override;

  // The views, by their roles.
  SliderTrack* track(SettingsSlider slider) const;
  QLabel* knob(SettingsSlider slider) const;
  // The knob's offset as the controller set it (the widget sits on the
  // nearest pixel).
  double knobOffset(SettingsSlider slider) const;
  QLabel* valueLabel(SettingsSlider slider) const;
  QWidget* row(SettingsSlider slider) const;
  RoundedColorView* modeBgView() const { return modeBgView_; }
  RoundedColorView* privacyScreenBgView() const { return privacyScreenBgView_; }
  FlatButton* modeButton(int mode) const { return modeButtons_.at(mode); }
  QLabel* modeMark(int mode) const { return modeMarks_.at(mode); }
  QPushButton* privacyScreenLockButton() const { return privacyScreenLockButton_; }
  const std::string& privacyImage() const { return privacyImage_; }
  FlatButton* exitButton() const { return exitButton_; }
  QLabel* nameLabel() const { return nameLabel_; }
  QLabel* firmwareVersionLable() const { return firmwareVersionLable_; }
  QLabel* imgView() const { return imgView_; }

  // Panel: the main window's size.  Popover: its own.
  static constexpr int kPopoverWidth = 240;
  static constexpr int kPopoverHeight = 272;
  static constexpr int kKnobSize = 20;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  struct Slider {
    RoundedColorView* row = nullptr;
    SliderTrack* track = nullptr;
    QLabel* knob = nullptr;
    QLabel* value = nullptr;
    double offset = 0;
  };

  void buildPanel();
  void buildPopover();
  RoundedColorView* makeRow(const QRect& geometry, double radius);
  // A row's title at its left.
  QLabel* addTitle(QWidget* row, const char* key, int y, int height);
  void addSlider(SettingsSlider slider, RoundedColorView* row, int trackX, int trackY);
  void addModeButtons(QWidget* row, int x, int y, int width, int height, int gap);
  void addPrivacyToggle(QWidget* row, int x, int y);

  const bool isPanel_;
  std::map<SettingsSlider, Slider> sliders_;
  RoundedColorView* modeBgView_ = nullptr;
  RoundedColorView* privacyScreenBgView_ = nullptr;
  std::array<FlatButton*, 3> modeButtons_{};
  std::array<QLabel*, 3> modeMarks_{};
  QPushButton* privacyScreenLockButton_ = nullptr;
  std::string privacyImage_;
  FlatButton* exitButton_ = nullptr;
  QLabel* imgView_ = nullptr;
  QLabel* nameLabel_ = nullptr;
  QLabel* firmwareVersionLable_ = nullptr;
  std::unique_ptr<GlassSettingsController> controller_;
};

}  // namespace vistrelle::ui
