// The update sheet over the home window: its panels as drawn, the settings
// of its controls, its clicks, the layer that keeps clicks from the window,
// and the sheet going away from inside its own click.

#include <gtest/gtest.h>

#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include "base/helpers/orvex_localization_helper.h"
#include "cloud/update/update_sheet_controller.h"
#include "ui/color_from_hex.h"
#include "ui/flat_button.h"
#include "ui/home_window.h"
#include "ui/hud_no_mouse_view.h"
#include "ui/orvex_app_update_view.h"
#include "ui/rounded_color_view.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

using cloud::CancelButton;
using Panel = cloud::UpdateSheet::Panel;
using ui::OrvexAppUpdateView;

// The home content: white, and it counts the presses that reach it.
class HomeContent : public QWidget {
 public:
  HomeContent() {
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
  }
  int presses = 0;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    ++presses;
    event->accept();
  }
};

struct RecordingActions : cloud::UpdateSheetActions {
  std::vector<std::string> clicks;
  std::function<void()> onCancel;
  void updateButtonClick() override { clicks.push_back("update"); }
  void statusButtonClick() override { clicks.push_back("status"); }
  void cancenButtonClick(CancelButton sender) override {
    clicks.push_back(sender == CancelButton::offer ? "cancel" : "cancel2");
    if (onCancel) onCancel();
  }
  void openFolderClick() override { clicks.push_back("folder"); }
};

class AppUpdateViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    window_ = std::make_unique<ui::HomeWindow>([] { return false; });
    content_ = new HomeContent;
    window_->registerContent(WindowContent::home, content_);
    uitest::showActive(window_.get());
  }
  void TearDown() override {
    sheet_.reset();
    window_.reset();
    uitest::settle();
  }

  // A sheet over the home content, shown, its clicks recorded.
  OrvexAppUpdateView& showSheet(bool hideInteractions = false) {
    sheet_ = OrvexAppUpdateView::loadFromNib(
        hideInteractions, [this]() -> QWidget* { return window_->currentContentWidget(); });
    sheet_->setActions(&actions_);
    sheet_->show();
    uitest::settle();
    return view();
  }
  OrvexAppUpdateView& view() { return *dynamic_cast<OrvexAppUpdateView*>(sheet_.get()); }

  QColor at(QPoint point) { return uitest::pixel(uitest::grab(window_.get()), point); }
  // A widget's point in the window's coordinates.
  QPoint inWindow(QWidget* widget, QPoint point) { return widget->mapTo(window_.get(), point); }
  void expectColour(QPoint point, const QColor& expected, const char* what) {
    const QColor got = at(point);
    EXPECT_TRUE(uitest::near(got, expected))
        << what << ": " << got.name().toStdString() << " vs " << expected.name().toStdString();
  }

  std::unique_ptr<ui::HomeWindow> window_;
  HomeContent* content_;
  RecordingActions actions_;
  std::shared_ptr<cloud::UpdateSheet> sheet_;
};

TEST_F(AppUpdateViewTest, TheControlsAreSetUpAsTheSheetRequires) {
  OrvexAppUpdateView& v = showSheet();
  EXPECT_EQ(v.geometry(), QRect(0, 0, 420, 620));
  EXPECT_EQ(v.parentWidget(), content_);
  EXPECT_TRUE(v.isShown());
  EXPECT_TRUE(v.interactionsView()->isVisible());
  EXPECT_EQ(v.interactionsView()->geometry(), v.rect());

  // One panel at a time.
  EXPECT_EQ(v.panel(), Panel::offer);
  EXPECT_TRUE(v.updateBgView()->isVisible());
  EXPECT_FALSE(v.updateProgressBgView()->isVisible());
  EXPECT_FALSE(v.updateStatusBgView()->isVisible());

  EXPECT_EQ(v.tipsLabel1()->text(), "发现新版本");
  EXPECT_EQ(v.tipsLabel2()->text(), "正在下载");
  EXPECT_EQ(v.tipsLabel3()->text(), "下载成功");
  for (ui::RoundedColorView* panel :
       {v.updateBgView(), v.updateProgressBgView(), v.updateStatusBgView()}) {
    EXPECT_EQ(panel->backgroundColor(), ui::hexColor("#FFFFFF"));
    EXPECT_EQ(panel->cornerRadius(), 20);
  }
  const struct {
    ui::FlatButton* button;
    const char* title;
    const char* tint;
    const char* background;
  } buttons[] = {{v.cancelButton(), "取消", "#000000", "#F5F5F5"},
                 {v.cancelButton2(), "取消", "#000000", "#F5F5F5"},
                 {v.updateButton(), "立即下载", "#FFFFFF", "#007BFF"},
                 {v.statusButton(), "安装", "#ffffff", "#007BFF"}};
  for (const auto& b : buttons) {
    SCOPED_TRACE(b.button->objectName().toStdString());
    EXPECT_EQ(b.button->text(), QString::fromUtf8(b.title));
    EXPECT_EQ(b.button->titleColor(), ui::hexColor(b.tint));
    EXPECT_EQ(b.button->backgroundColor(), ui::hexColor(b.background));
    EXPECT_EQ(b.button->cornerRadius(), 10);
  }
  EXPECT_EQ(v.percentMaxView()->backgroundColor(), ui::hexColor("#000000", 0.1));
  EXPECT_EQ(v.percentMaxView()->cornerRadius(), 2);
  EXPECT_EQ(v.percentMinView()->backgroundColor(), ui::hexColor("#007BFF"));
  EXPECT_EQ(v.percentMinView()->cornerRadius(), 2);
  EXPECT_EQ(v.percentMinView()->width(), 0);
  EXPECT_EQ(v.statusImageName(), "update-dfu-success");
  EXPECT_FALSE(v.updateStatusImageView()->pixmap().isNull());
  EXPECT_EQ(v.textView()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(v.textView()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_TRUE(v.textView()->isReadOnly());
  EXPECT_TRUE(v.percentLabel()->text().isEmpty());
  EXPECT_FALSE(v.installFailureLabel()->isVisible());
  EXPECT_FALSE(v.openFolderButton()->isVisible());
}

TEST_F(AppUpdateViewTest, SetVersionPutsTheVersionOnAllThreePanelsAndTheNotesInTheirStyle) {
  OrvexAppUpdateView& v = showSheet();
  v.setVersion("修复已知问题\n提升稳定性", "9.9.10");
  for (QLabel* label : {v.versionLabel(), v.versionLabel2(), v.versionLabel3()}) {
    EXPECT_EQ(label->text(), "V9.9.10");
  }
  QTextDocument* notes = v.textView()->document();
  EXPECT_EQ(notes->toPlainText(), "修复已知问题\n提升稳定性");
  ASSERT_EQ(notes->blockCount(), 2);
  for (QTextBlock block = notes->begin(); block != notes->end(); block = block.next()) {
    EXPECT_EQ(block.blockFormat().lineHeight(), 5);
    EXPECT_EQ(block.blockFormat().lineHeightType(), QTextBlockFormat::LineDistanceHeight);
    const QTextCharFormat characters = block.begin().fragment().charFormat();
    EXPECT_EQ(characters.font().pixelSize(), 12);
    EXPECT_EQ(characters.foreground().color(), ui::hexColor("#000000", 0.6));
  }
  v.setVersion("", "10");
  EXPECT_TRUE(notes->isEmpty());
  EXPECT_EQ(v.versionLabel3()->text(), "V10");
}

TEST_F(AppUpdateViewTest, EachPanelAsDrawn) {
  OrvexAppUpdateView& v = showSheet();
  v.setVersion("修复已知问题\n提升眼镜连接的稳定性", "9.9.9");
  uitest::settle();
  const QColor white = Qt::white;
  uitest::saveSnapshot(window_.get(), "update-sheet-offer");
  // The veil over the content, a panel, both buttons (near their left edge,
  // away from the titles).
  expectColour(QPoint(6, 6), uitest::over(ui::hexColor("#ECEDEE", 0.1), white), "veil");
  expectColour(inWindow(v.updateBgView(), QPoint(10, 90)), white, "offer panel");
  expectColour(inWindow(v.updateButton(), QPoint(4, 20)), ui::hexColor("#007BFF"), "立即下载");
  expectColour(inWindow(v.cancelButton(), QPoint(4, 20)), ui::hexColor("#F5F5F5"), "取消");

  v.showPanel(Panel::downloading);
  EXPECT_FALSE(v.updateBgView()->isVisible());
  EXPECT_TRUE(v.updateProgressBgView()->isVisible());
  EXPECT_EQ(v.percentTrackWidth(), 240);
  v.setPercentFillWidth(v.percentTrackWidth() * 0.5);
  EXPECT_EQ(v.percentMinView()->width(), 120);
  uitest::settle();
  uitest::saveSnapshot(window_.get(), "update-sheet-downloading");
  expectColour(inWindow(v.percentMinView(), QPoint(60, 1)), ui::hexColor("#007BFF"), "fill");
  expectColour(inWindow(v.percentMaxView(), QPoint(200, 1)),
               uitest::over(ui::hexColor("#000000", 0.1), white), "track");
  expectColour(inWindow(v.updateProgressBgView(), QPoint(10, 100)), white, "download panel");

  v.showPanel(Panel::result);
  v.setResultTitle("下载成功");
  v.setResultImage("update-dfu-success");
  v.setStatusButtonTitle("安装");
  uitest::settle();
  uitest::saveSnapshot(window_.get(), "update-sheet-succeeded");
  expectColour(inWindow(v.statusButton(), QPoint(4, 20)), ui::hexColor("#007BFF"), "安装");
  expectColour(inWindow(v.updateStatusBgView(), QPoint(10, 90)), white, "result panel");
  const QImage succeeded = uitest::grab(v.updateStatusImageView());

  v.setResultTitle("下载失败");
  v.setResultImage("update-dfu-failed");
  v.setStatusButtonTitle("重试");
  uitest::settle();
  uitest::saveSnapshot(window_.get(), "update-sheet-failed");
  EXPECT_EQ(v.statusImageName(), "update-dfu-failed");
  EXPECT_NE(uitest::grab(v.updateStatusImageView()), succeeded);
  EXPECT_EQ(v.tipsLabel3()->text(), "下载失败");
  EXPECT_EQ(v.statusButtonTitle(), "重试");

  v.setResultTitle("下载成功");
  v.setResultImage("update-dfu-success");
  v.setStatusButtonTitle("安装");
  v.setInstallFailure(
      "无法打开安装包，安装包已保存到：/home/u/.cache/cn.com.qx.orvexForMac/"
      "OrvexSpace_package.deb");
  uitest::settle();
  uitest::saveSnapshot(window_.get(), "update-sheet-install-failed");
  EXPECT_TRUE(v.installFailureLabel()->isVisible());
  EXPECT_TRUE(v.openFolderButton()->isVisible());
  EXPECT_EQ(v.openFolderButton()->text(), "打开所在文件夹");
  EXPECT_TRUE(v.statusButton()->isVisible());
  // The line does not run into the button below it.
  EXPECT_LE(v.openFolderButton()->geometry().bottom(), v.statusButton()->geometry().top());
  EXPECT_LE(v.installFailureLabel()->heightForWidth(v.installFailureLabel()->width()),
            v.installFailureLabel()->height());
  v.setInstallFailure("");
  EXPECT_FALSE(v.installFailureLabel()->isVisible());
  EXPECT_FALSE(v.openFolderButton()->isVisible());
}

TEST_F(AppUpdateViewTest, EveryControlReportsItsClick) {
  OrvexAppUpdateView& v = showSheet();
  uitest::click(v.updateButton());
  uitest::click(v.cancelButton());
  v.showPanel(Panel::downloading);
  uitest::settle();
  uitest::click(v.cancelButton2());
  v.showPanel(Panel::result);
  v.setInstallFailure("x");
  uitest::settle();
  uitest::click(v.statusButton());
  uitest::click(v.openFolderButton());
  EXPECT_EQ(actions_.clicks,
            (std::vector<std::string>{"update", "cancel", "cancel2", "status", "folder"}));
  v.setActions(nullptr);
  uitest::click(v.statusButton());
  EXPECT_EQ(actions_.clicks.size(), 5u) << "no actions: nothing";
}

TEST_F(AppUpdateViewTest, TheWindowUnderneathGetsNoClicksUnlessAskedTo) {
  showSheet();
  const QPoint offPanels(6, 6);
  const QPoint onPanel = inWindow(view().updateBgView(), QPoint(10, 90));
  uitest::click(window_.get(), offPanels);
  uitest::click(window_.get(), onPanel);
  EXPECT_EQ(content_->presses, 0);
  sheet_->remove();
  sheet_.reset();
  uitest::settle();

  // Without the layer, clicks off the panels reach the window; on a panel
  // they still do not.
  showSheet(/*hideInteractions=*/true);
  EXPECT_FALSE(view().interactionsView()->isVisible());
  uitest::click(window_.get(), offPanels);
  EXPECT_EQ(content_->presses, 1);
  uitest::click(window_.get(), onPanel);
  EXPECT_EQ(content_->presses, 1);
}

TEST_F(AppUpdateViewTest, WithoutAContentToLieOverNothingShows) {
  sheet_ = OrvexAppUpdateView::loadFromNib(false, [] { return nullptr; });
  sheet_->show();
  EXPECT_FALSE(sheet_->isShown());
}

// The real road: "取消" reaches the sheet's controller, whose holder lets go
// of it inside the button's own click; the view goes once the click is over.
TEST_F(AppUpdateViewTest, CancelTakesTheSheetAwayFromInsideItsOwnClick) {
  sheet_ = OrvexAppUpdateView::loadFromNib(
      false, [this]() -> QWidget* { return window_->currentContentWidget(); });
  QPointer<OrvexAppUpdateView> widget(&view());
  std::shared_ptr<cloud::UpdateSheetController> holder;
  cloud::UpdateServices services;
  services.installer = "/bin/false";
  holder = std::make_shared<cloud::UpdateSheetController>(
      std::move(sheet_), services, [&holder] { holder.reset(); }, [] {});
  holder->setVersion("修复已知问题", "9.9.9", "http://127.0.0.1:1/none.deb");
  holder->sheet().show();
  uitest::settle();
  ASSERT_TRUE(widget);
  EXPECT_EQ(widget->versionLabel()->text(), "V9.9.9");

  uitest::click(widget->cancelButton());
  EXPECT_EQ(holder, nullptr);
  uitest::settle();
  EXPECT_TRUE(widget.isNull()) << "deleted once the click was over";
}

}  // namespace
}  // namespace vistrelle
