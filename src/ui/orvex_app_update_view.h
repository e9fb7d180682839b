#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "cloud/update/update_sheet.h"

class QLabel;
class QTextEdit;

namespace vistrelle::ui {

class FlatButton;
class HUDNoMouseView;
class RoundedColorView;

// The update sheet: a faint veil over the whole home window with one of its
// three panels on it (the offer, the download, the result).  It only shows
// what the update logic tells it and forwards its clicks there.
class OrvexAppUpdateView final : public QWidget, public cloud::UpdateSheet {
  Q_OBJECT

 public:
  // `superview` answers the view to lay the sheet over when it is shown (the
  // main window's current content).
  OrvexAppUpdateView(bool hideInteractions, std::function<QWidget*()> superview);

  // A new sheet, not shown.  Dropping the last reference deletes the view
  // later, from the event loop: the reference may go inside one of the
  // view's own click handlers.
  static std::shared_ptr<cloud::UpdateSheet> loadFromNib(bool hideInteractions,
                                                         std::function<QWidget*()> superview);

  // cloud::UpdateSheet
  void setActions(cloud::UpdateSheetActions* actions) override { actions_ = actions; }
  void show() override;
  void remove() override;
  bool isShown() const override;
  void showPanel(Panel panel) override;
  Panel panel() const override { return panel_; }
  void setVersion(const std::string& releaseNote, const std::string& version) override;
  double percentTrackWidth() const override;
  void setPercentFillWidth(double width) override;
  void setResultTitle(const std::string& text) override;
  void setResultImage(const std::string& imageName) override;
  void setStatusButtonTitle(const std::string& title) override;
  std::string statusButtonTitle() const override;
  void setInstallFailure(const std::string& text) override;

  // The outlets.
  RoundedColorView* updateBgView() const { return updateBgView_; }
  HUDNoMouseView* interactionsView() const { return interactionsView_; }
  QLabel* tipsLabel1() const { return tipsLabel1_; }
  QLabel* versionLabel() const { return versionLabel_; }
  QTextEdit* textView() const { return textView_; }
  FlatButton* cancelButton() const { return cancelButton_; }
  FlatButton* updateButton() const { return updateButton_; }
  RoundedColorView* updateProgressBgView() const { return updateProgressBgView_; }
  QLabel* tipsLabel2() const { return tipsLabel2_; }
  QLabel* versionLabel2() const { return versionLabel2_; }
  RoundedColorView* percentMaxView() const { return percentMaxView_; }
  RoundedColorView* percentMinView() const { return percentMinView_; }
  QLabel* percentLabel() const { return percentLabel_; }
  FlatButton* cancelButton2() const { return cancelButton2_; }
  RoundedColorView* updateStatusBgView() const { return updateStatusBgView_; }
  QLabel* tipsLabel3() const { return tipsLabel3_; }
  QLabel* versionLabel3() const { return versionLabel3_; }
  QLabel* updateStatusImageView() const { return updateStatusImageView_; }
  FlatButton* statusButton() const { return statusButton_; }
  QLabel* installFailureLabel() const { return installFailureLabel_; }
  FlatButton* openFolderButton() const { return openFolderButton_; }
  // The catalog name of the image on the result panel.
  const QString& statusImageName() const { return statusImageName_; }

  static constexpr int kWidth = 420;
  static constexpr int kHeight = 620;
  // The veil over the window.
  static constexpr const char* kVeilHex = "#ECEDEE";
  static constexpr double kVeilAlpha = 0.1;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void awakeFromNib();
  void setNotes(const QString& text);
  void cancenButtonClick(cloud::CancelButton sender);
  void updateButtonClick();
  void statusButtonClick();

  std::function<QWidget*()> superview_;
  cloud::UpdateSheetActions* actions_ = nullptr;
  Panel panel_ = Panel::offer;
  QString statusImageName_;

  HUDNoMouseView* interactionsView_;
  RoundedColorView* updateBgView_;
  QLabel* tipsLabel1_;
  QLabel* versionLabel_;
  QTextEdit* textView_;
  FlatButton* cancelButton_;
  FlatButton* updateButton_;
  RoundedColorView* updateProgressBgView_;
  QLabel* tipsLabel2_;
  QLabel* versionLabel2_;
  RoundedColorView* percentMaxView_;
  RoundedColorView* percentMinView_;
  QLabel* percentLabel_;
  FlatButton* cancelButton2_;
  RoundedColorView* updateStatusBgView_;
  QLabel* tipsLabel3_;
  QLabel* versionLabel3_;
  QLabel* updateStatusImageView_;
  FlatButton* statusButton_;
  QLabel* installFailureLabel_;
  FlatButton* openFolderButton_;
};

}  // namespace vistrelle::ui
