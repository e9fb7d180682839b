// The delegate's update check: it runs only over the home content, puts the
// user interface's sheet up, and the installer's success takes the
// application's own exit road.

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "support/http_fixture.h"
#include "cloud/update/fake/fake_update_sheet.h"
#include "platform/process/fake/fake_process_launcher.h"
#include "platform/settings/fake/in_memory_user_defaults.h"

namespace vistrelle {
namespace {

struct FakeWindow : AppWindow {
  WindowContent shown = WindowContent::home;
  void showCentered() override {}
  void bringToFront() override {}
  bool isVisible() const override { return true; }
  void setContent(WindowContent content) override { shown = content; }
  WindowContent content() const override { return shown; }
};

class AppDelegateUpdateTest : public cloud::HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    delegate_ = std::make_unique<AppDelegate>(AppServices{main_, &defaults_, nullptr,
                                                          [this] {
                                                            auto window =
                                                                std::make_unique<FakeWindow>();
                                                            window_ = window.get();
                                                            return window;
                                                          },
                                                          [](const std::string&) {}, nullptr});
    cloud::UpdateServices update;
    update.http =
        std::shared_ptr<cloud::OrvexAlamofireManager>(std::shared_ptr<void>(), http_.get());
    update.mainQueue = main_;
    update.launcher = launcher_;
    update.log = [](const std::string&) {};
    delegate_->configureUpdate(
        [this](bool hideInteractions) {
          auto sheet = std::make_shared<cloud::FakeUpdateSheet>(hideInteractions);
          sheets_.push_back(sheet);
          return sheet;
        },
        update);
  }
  void TearDown() override {
    delegate_.reset();
    HttpFixture::TearDown();
  }

  std::optional<bool> check() {
    std::optional<bool> result;
    delegate_->checkAppUpdate([&](bool nothingInTheWay) { result = nothingInTheWay; });
    EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
    return result;
  }

  InMemoryUserDefaults defaults_;
  std::shared_ptr<process::FakeProcessLauncher> launcher_ =
      std::make_shared<process::FakeProcessLauncher>();
  FakeWindow* window_ = nullptr;
  std::vector<std::shared_ptr<cloud::FakeUpdateSheet>> sheets_;
  std::unique_ptr<AppDelegate> delegate_;
};

TEST_F(AppDelegateUpdateTest, OnlyTheHomeContentIsChecked) {
  EXPECT_EQ(check(), std::optional<bool>(true)) << "no window yet";
  delegate_->showHomeWindow();
  for (WindowContent other : {WindowContent::glassesPanel, WindowContent::firmwareUpdate}) {
    window_->setContent(other);
    EXPECT_EQ(check(), std::optional<bool>(true));
  }
  EXPECT_TRUE(service_.requests().empty());
  EXPECT_TRUE(sheets_.empty());
}

TEST_F(AppDelegateUpdateTest, TheSheetGoesUpAndAnOpenedPackageEndsTheApplicationOnce) {
  delegate_->showHomeWindow();
  EXPECT_EQ(check(), std::optional<bool>(false));
  ASSERT_EQ(sheets_.size(), 1u);
  cloud::FakeUpdateSheet& sheet = *sheets_[0];
  EXPECT_FALSE(sheet.hideInteractions()) << "clicks stay on the sheet";
  EXPECT_TRUE(sheet.isShown());
  ASSERT_NE(delegate_->appUpdateView(), nullptr);

  sheet.clickUpdate();
  ASSERT_TRUE(runUntil([&] { return sheet.panel() == cloud::UpdateSheet::Panel::result; }));
  sheet.clickStatus();  // "安装": the fake xdg-open exits 0
  main_->runUntilIdle();
  ASSERT_EQ(launcher_->launches().size(), 1u);
  EXPECT_EQ(launcher_->launches()[0].argv,
            (std::vector<std::string>{"xdg-open", *delegate_->appUpdateView()->updateUrl()}));
  EXPECT_EQ(delegate_->exitCleanupRuns(), 1);
  EXPECT_TRUE(delegate_->isExit());
  EXPECT_EQ(main_->run(), 0) << "the loop was told to end";
}

TEST_F(AppDelegateUpdateTest, CancelLetsGoOfTheSheet) {
  delegate_->showHomeWindow();
  EXPECT_EQ(check(), std::optional<bool>(false));
  sheets_[0]->clickCancel(cloud::CancelButton::offer);
  EXPECT_EQ(delegate_->appUpdateView(), nullptr);
  EXPECT_FALSE(sheets_[0]->isShown());
  EXPECT_EQ(check(), std::optional<bool>(false));
  EXPECT_EQ(sheets_.size(), 2u);
}

}  // namespace
}  // namespace vistrelle
