// The refresh task on the virtual clock: it refreshes once the grant is more
// than a day old and not a millisecond sooner, starts only with a stored
// grant time, and a refresh it cannot make signs the user out with the
// expiry text and the notice.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/log/orvex_log.h"
#include "support/account_fixture.h"

namespace vistrelle::cloud {
namespace {

using namespace std::chrono_literals;

class RefreshTimerTest : public AccountFixture {
 protected:
  // Puts the wall clock so that the task's next tick (5 s on) finds the
  // grant `elapsed` ms old, and lets it tick.
  void tickAt(int64_t elapsed) {
    const int64_t grant = *defaults_.integerForKey("orvex_refreshAccessToken_timestamp");
    clockOffset_ += grant + elapsed - (nowMilliseconds() + 5000);
    main_->advanceBy(5s);
  }
  static std::string appLog() {
    std::ifstream file(OrvexLog::logFilePathWithLogName(LogName::Vistrelle));
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  testing::NotificationLog notices_{
      {Login::kLoginExpiredNotification, Login::kLoginStatusNotification}};
};

TEST_F(RefreshTimerTest, RefreshesOnlyOnceTheGrantIsMoreThanADayOld) {
  const struct {
    int64_t elapsed;
    bool refreshes;
  } cases[] = {{86'400'000, false}, {86'400'001, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.elapsed);
    signInWithCode();
    const size_t refreshesBefore = tokenRequests("refresh_token").size();
    const std::string firstTask = login_->refreshAccessTokenTimer();
    tickAt(c.elapsed);
    if (!c.refreshes) {
      EXPECT_EQ(login_->refreshAccessTokenTimer(), firstTask);
      EXPECT_TRUE(timer_.isLive(firstTask));
      EXPECT_EQ(tokenRequests("refresh_token").size(), refreshesBefore);
    } else {
      // The check stops its task before it refreshes; the new grant starts
      // a new one.
      EXPECT_FALSE(timer_.isLive(firstTask));
      ASSERT_TRUE(runUntil([&] { return !login_->refreshAccessTokenTimer().empty(); }));
      EXPECT_EQ(tokenRequests("refresh_token").size(), refreshesBefore + 1);
      EXPECT_EQ(defaults_.integerForKey("orvex_refreshAccessToken_timestamp"), nowMilliseconds());
      EXPECT_NE(appLog().find("token刷新成功"), std::string::npos);
      // A minute of ticks after that finds nothing to do: a refresh would
      // stop the task first.
      const std::string task = login_->refreshAccessTokenTimer();
      main_->advanceBy(60s);
      EXPECT_EQ(login_->refreshAccessTokenTimer(), task);
      EXPECT_TRUE(timer_.isLive(task));
    }
    EXPECT_EQ(timer_.liveCount(), 1u);
    EXPECT_TRUE(toasts_->texts().empty());
    login_->clearLoginInfo(false);
    EXPECT_EQ(timer_.liveCount(), 0u);
    clockOffset_ = 0;
  }
}

TEST_F(RefreshTimerTest, TheTaskStartsOnlyWithAStoredGrantTime) {
  // Signed out: nothing at all.
  login_->startRefreshTokenTimer();
  EXPECT_FALSE(defaults_.objectForKey("orvex_refreshAccessToken_timestamp").has_value());
  EXPECT_EQ(timer_.liveCount(), 0u);

  const auto [access, refresh] = service_.issueTokens();
  defaults_.setObject("UserDefault_key_orvex_userInfo",
                      Value(Value::Map{{"access_token", access}, {"refresh_token", refresh}}));
  login_->startRefreshTokenTimer();
  EXPECT_EQ(defaults_.integerForKey("orvex_refreshAccessToken_timestamp"), nowMilliseconds());
  EXPECT_TRUE(login_->refreshAccessTokenTimer().empty());
  EXPECT_EQ(timer_.liveCount(), 0u);

  login_->startRefreshTokenTimer();
  const std::string task = login_->refreshAccessTokenTimer();
  EXPECT_TRUE(timer_.isLive(task));
  login_->startRefreshTokenTimer();
  EXPECT_EQ(login_->refreshAccessTokenTimer(), task) << "one task at a time";
  EXPECT_EQ(timer_.liveCount(), 1u);

  // A grant time that is not an integer counts as none.
  login_->clearLoginInfo(false);
  defaults_.setObject("UserDefault_key_orvex_userInfo",
                      Value(Value::Map{{"access_token", access}, {"refresh_token", refresh}}));
  defaults_.setString("orvex_refreshAccessToken_timestamp", "yesterday");
  login_->startRefreshTokenTimer();
  EXPECT_EQ(defaults_.integerForKey("orvex_refreshAccessToken_timestamp"), nowMilliseconds());
  EXPECT_EQ(timer_.liveCount(), 0u);
}

TEST_F(RefreshTimerTest, ARefusedRefreshSignsOutWithTheExpiryTextAndTheNotice) {
  signInWithCode();
  service_.revokeRefreshTokens();
  mainWindowShows_ = 0;
  tickAt(86'400'001);
  ASSERT_TRUE(runUntil([&] { return !toasts_->texts().empty(); }));
  main_->runUntilIdle();
  EXPECT_EQ(toasts_->texts(), std::vector<std::string>{"登录过期，请重新登录"});
  EXPECT_EQ(notices_.flags(Login::kLoginExpiredNotification), std::vector<bool>{true});
  EXPECT_EQ(notices_.flags(Login::kLoginStatusNotification), std::vector<bool>{false});
  EXPECT_FALSE(login_->isLogin());
  EXPECT_FALSE(defaults_.objectForKey("UserDefault_key_orvex_userInfo").has_value());
  EXPECT_EQ(timer_.liveCount(), 0u);
  EXPECT_EQ(mainWindowShows_, 1);
  main_->advanceBy(60s);
  EXPECT_EQ(tokenRequests("refresh_token").size(), 1u);
}

}  // namespace
}  // namespace vistrelle::cloud
