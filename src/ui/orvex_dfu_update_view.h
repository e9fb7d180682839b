#pragma once

#include <QWidget>
#include <memory>

#include "device/firmware/dfu_update_view.h"
#include "device/firmware/orvex_dfu_update_view_controller.h"

class QLabel;
class QProgressBar;

namespace vistrelle::ui {

class FlatButton;

// The firmware-update content of the main window: the update image, two tips,
// the progress bar and the start / retry button, driven by the window's logic
// (device::OrvexDFUUpdateViewController), which it owns.
class OrvexDfuUpdateView final : public QWidget, public device::DfuUpdateView {
  Q_OBJECT

 public:
  explicit OrvexDfuUpdateView(device::OrvexDFUUpdateViewController::Dependencies dependencies,
                              QWidget* parent = nullptr);
  ~OrvexDfuUpdateView() override;

  device::OrvexDFUUpdateViewController& controller() { return *controller_; }

  void setImage(const std::string& name) override;
  void setTipsText(const std::string& text, const device::DfuTipsStyle& style) override;
  void setTips2Text(const std::string& text) override;
  void setButtonHidden(bool hidden) override;
  void setButtonTitle(const std::string& title, const std::string& tint) override;
  void setButtonBackground(const std::string& color) override;
  void setProgressHidden(bool hidden) override;
  void setProgressValue(double percent) override;

  QLabel* updateImageView() const { return updateImageView_; }
  QLabel* tipsLabel1() const { return tipsLabel1_; }
  QLabel* tipsLabel2() const { return tipsLabel2_; }
  FlatButton* updateButton() const { return updateButton_; }
  QProgressBar* progressIndicator() const { return progressIndicator_; }

 private:
  QLabel* updateImageView_;
  QLabel* tipsLabel1_;
  QLabel* tipsLabel2_;
  FlatButton* updateButton_;
  QProgressBar* progressIndicator_;
  std::unique_ptr<device::OrvexDFUUpdateViewController> controller_;
};

}  // namespace vistrelle::ui
