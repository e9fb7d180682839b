#pragma once

#include <string>
#include <vector>

#include "cloud/update/update_sheet.h"

namespace vistrelle::cloud {

// A sheet for tests: it keeps what it was told to show, and its clicks are
// calls a test makes.
class FakeUpdateSheet final : public UpdateSheet {
 public:
  explicit FakeUpdateSheet(bool hideInteractions = false, double trackWidth = 240)
      : hideInteractions_(hideInteractions), trackWidth_(trackWidth) {}

  void setActions(UpdateSheetActions* actions) override { actions_ = actions; }
  void show() override {
    ++shows;
    shown_ = !refusesToShow;
  }
  void remove() override {
    ++removals;
    shown_ = false;
  }
  bool isShown() const override { return shown_; }
  void showPanel(Panel panel) override { panel_ = panel; }
  Panel panel() const override { return panel_; }
  void setVersion(const std::string& releaseNote, const std::string& version) override {
    this->releaseNote = releaseNote;
    versionText = "V" + version;
    ++versionSets;
  }
  double percentTrackWidth() const override { return trackWidth_; }
  void setPercentFillWidth(double width) override { fillWidths.push_back(width); }
  void setResultTitle(const std::string& text) override { resultTitle = text; }
  void setResultImage(const std::string& imageName) override { resultImage = imageName; }
  void setStatusButtonTitle(const std::string& title) override { statusTitle_ = title; }
  std::string statusButtonTitle() const override { return statusTitle_; }
  void setInstallFailure(const std::string& text) override { installFailure = text; }

  // The clicks, as the controls would forward them (nothing without actions).
  void clickUpdate() {
    if (actions_) actions_->updateButtonClick();
  }
  void clickStatus() {
    if (actions_) actions_->statusButtonClick();
  }
  void clickCancel(CancelButton which) {
    if (actions_) actions_->cancenButtonClick(which);
  }
  void clickOpenFolder() {
    if (actions_) actions_->openFolderClick();
  }

  bool hideInteractions() const { return hideInteractions_; }
  bool hasActions() const { return actions_ != nullptr; }
  double fillWidth() const { return fillWidths.empty() ? 0 : fillWidths.back(); }

  bool refusesToShow = false;  // show() leaves it hidden
  int shows = 0;
  int removals = 0;
  int versionSets = 0;
  std::string releaseNote;
  std::string versionText;
  std::vector<double> fillWidths;
  std::string resultTitle;
  std::string resultImage;
  std::string installFailure;

 private:
  bool hideInteractions_;
  double trackWidth_;
  UpdateSheetActions* actions_ = nullptr;
  bool shown_ = false;
  Panel panel_ = Panel::offer;
  std::string statusTitle_ = "安装";
};

}  // namespace vistrelle::cloud
