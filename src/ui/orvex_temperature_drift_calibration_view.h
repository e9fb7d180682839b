#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/dispatch/delayed_task.h"

class QLabel;
class QMouseEvent;

namespace vistrelle {
class BrightnessControl;
class MainState;
class TemperatureDriftRestore;
}  // namespace vistrelle

namespace vistrelle::ui {

class FlatButton;
class RoundedColorView;
class SpinningProgressIndicatorLayer;

// The temperature-drift calibration panel, laid over a window's content: a
// dimming veil covering its parent, and in the middle a box that asks the
// wearer to put the glasses down and offers to restore the default user
// records.  The restore itself runs on the process' restore road, which
// outlives the panel; the panel closes at once.
//
// While it lives, the panel watches the pointer moving over its window (and
// left-button releases there) to light the box's buttons; the watch goes when
// the panel closes.
class OrvexTemperatureDriftCalibrationView final : public QWidget {
  Q_OBJECT

 public:
  struct Dependencies {
    // Dims the built-in display again when the panel closes with the privacy
    // screen on; none: nothing dims.  Must outlive the panel.
    BrightnessControl* brightness = nullptr;
    MainState* state = nullptr;  // default: MainState::shared()
    // default: the installed restore road (temperatureDriftRestore())
    std::shared_ptr<TemperatureDriftRestore> restore;
  };

  // Covers `parent` (and follows its size) on top of its other children.
  OrvexTemperatureDriftCalibrationView(QWidget* parent, Dependencies dependencies);
  explicit OrvexTemperatureDriftCalibrationView(QWidget* parent)
      : OrvexTemperatureDriftCalibrationView(parent, Dependencies{}) {}
  ~OrvexTemperatureDriftCalibrationView() override;

  RoundedColorView* contentBgView() const { return contentBgView_; }
  QLabel* tipsLabel() const { return tipsLabel_; }
  FlatButton* resetButton() const { return resetButton_; }
  FlatButton* closeButton() const { return closeButton_; }
  RoundedColorView* loadingBgView() const { return loadingBgView_; }
  SpinningProgressIndicatorLayer* progressIndicator() const { return progressIndicator_; }
  QLabel* tipsLabel1() const { return tipsLabel1_; }
  QLabel* tipsLabel2() const { return tipsLabel2_; }
  RoundedColorView* successBgView() const { return successBgView_; }
  QLabel* tipsLabel3() const { return tipsLabel3_; }
  QLabel* tipsLabel4() const { return tipsLabel4_; }

  // Called once, when the panel closes.
  std::function<void()> closeCallBack;
  // A task of a calibration step; cancelled when the panel closes or restores.
  void setTimer(dispatch::DelayedTask timer) { timer_ = std::move(timer); }
  int calibrateStatus() const { return calibrateStatus_; }
  int errorDataCount() const { return errorDataCount_; }

  // The instruction text: centred, line spacing 5, black, the system font at
  // 20 px in the Chinese interface and 18 px otherwise.
  void setTips(const QString& text);
  // A pointer event of the panel's window: a move lights the button under
  // the pointer; a left-button release outside the box closes the panel once
  // the calibrated view shows.
  void updateCloseButtonHover(const QMouseEvent& event);
  // Closes the panel (once): it leaves its parent and is deleted later.
  void closeView();
  // Restores the default user records on the restore road, then closes.
  void restoreDefaults();
  void resetButtonClick() { restoreDefaults(); }
  void closeButtonClick() { closeView(); }

  // The pointer watch while the panel is open; null once it closed.
  QObject* hoverWatch() const { return hoverWatch_; }

  static constexpr int kContentWidth = 340;
  static constexpr int kContentHeight = 280;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  class HoverWatch;

  void setupUI();
  void resetButtonLook();
  void resetFields();
  void removeHoverWatch();

  Dependencies dependencies_;
  MainState& state_;
  RoundedColorView* contentBgView_ = nullptr;
  QLabel* tipsLabel_ = nullptr;
  FlatButton* resetButton_ = nullptr;
  FlatButton* closeButton_ = nullptr;
  RoundedColorView* loadingBgView_ = nullptr;
  SpinningProgressIndicatorLayer* progressIndicator_ = nullptr;
  QLabel* tipsLabel1_ = nullptr;
  QLabel* tipsLabel2_ = nullptr;
  RoundedColorView* successBgView_ = nullptr;
  QLabel* tipsLabel3_ = nullptr;
  QLabel* tipsLabel4_ = nullptr;
  QPointer<QObject> hoverWatch_;

  dispatch::DelayedTask timer_;
  int calibrateStatus_ = 0;
  int errorDataCount_ = 0;
  bool closed_ = false;
};

}  // namespace vistrelle::ui
