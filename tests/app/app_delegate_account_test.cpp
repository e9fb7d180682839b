// The account session reaches the main window through the delegate: a
// sign-in and a sign-out show it, and once the delegate is gone the session
// no longer calls into it.

#include <gtest/gtest.h>

#include "app/app_delegate.h"
#include "platform/settings/fake/in_memory_user_defaults.h"
#include "support/account_fixture.h"

namespace vistrelle {
namespace {

struct CountingWindow : AppWindow {
  explicit CountingWindow(int& shows) : shows_(shows) {}
  void showCentered() override { ++shows_; }
  void bringToFront() override {}
  bool isVisible() const override { return shows_ > 0; }
  void setContent(WindowContent content) override { shown_ = content; }
  WindowContent content() const override { return shown_; }

  int& shows_;
  WindowContent shown_ = WindowContent::home;
};

class AppDelegateAccountTest : public cloud::AccountFixture {
 protected:
  std::unique_ptr<AppDelegate> makeDelegate() {
    auto delegate = std::make_unique<AppDelegate>(
        AppServices{main_, &settings_, nullptr,
                    [this] { return std::make_unique<CountingWindow>(windowShows_); },
                    [](const std::string&) {}, nullptr});
    delegate->setAccountSession(login_);
    return delegate;
  }

  InMemoryUserDefaults settings_;
  int windowShows_ = 0;
};

TEST_F(AppDelegateAccountTest, SignInAndSignOutShowTheHomeWindow) {
  auto delegate = makeDelegate();
  signInWithCode();
  EXPECT_EQ(windowShows_, 1);
  ASSERT_NE(delegate->window(), nullptr);
  login_->clearLoginInfo(false);
  EXPECT_EQ(windowShows_, 2);
  EXPECT_EQ(mainWindowShows_, 0) << "the delegate's callback took the fixture's place";

  delegate.reset();
  login_->clearLoginInfo(false);
  EXPECT_EQ(windowShows_, 2);
}

}  // namespace
}  // namespace vistrelle
