// The HTTP layer's expired-token road with this session behind it: a 424
// refreshes through the session; when that refresh is refused, the layer
// tells the user once and the session only clears.

#include <gtest/gtest.h>

#include "support/account_fixture.h"

namespace vistrelle::cloud {
namespace {

class TokenExpiryTest : public AccountFixture {
 protected:
  Outcome userInfo() {
    Outcome outcome;
    http_->GETWithJSON("/api/admin/user/orvex/info", nullptr, true, outcome.success(),
                       outcome.failure());
    EXPECT_TRUE(runUntil([&] { return outcome.done(); }));
    return outcome;
  }

  testing::NotificationLog notices_{
      {Login::kLoginExpiredNotification, Login::kLoginStatusNotification}};
};

TEST_F(TokenExpiryTest, AnExpiredTokenIsRefreshedThroughTheSession) {
  signInWithCode();
  const std::string oldAccess = login_->accessToken();
  const std::string oldRefresh = *login_->refresh_token();
  service_.expireAccessTokens();

  const Outcome expired = userInfo();
  ASSERT_EQ(expired.successCalls, 1);
  EXPECT_FALSE(expired.envelope->success);
  ASSERT_TRUE(runUntil([&] { return login_->accessToken() != oldAccess; }));
  main_->runUntilIdle();
  ASSERT_EQ(tokenRequests("refresh_token").size(), 1u);
  EXPECT_EQ(tokenRequests("refresh_token")[0].queryValue("refresh_token"), oldRefresh);
  EXPECT_EQ(defaults_.stringForKey("userInfo_token_orvex"), login_->accessToken());
  EXPECT_TRUE(toasts_->texts().empty());
  EXPECT_TRUE(notices_.named(Login::kLoginExpiredNotification).empty());

  const Outcome again = userInfo();
  EXPECT_TRUE(again.envelope->success) << "the next request carries the new token";
}

TEST_F(TokenExpiryTest, ARefusedRefreshIsToldOnceByTheLayerAndTheSessionOnlyClears) {
  signInWithCode();
  service_.expireAccessTokens();
  service_.revokeRefreshTokens();
  mainWindowShows_ = 0;

  userInfo();
  ASSERT_TRUE(runUntil([&] { return !toasts_->texts().empty(); }));
  main_->runUntilIdle();
  EXPECT_EQ(toasts_->texts(), std::vector<std::string>{"登录过期，请重新登录"});
  EXPECT_EQ(notices_.flags(Login::kLoginExpiredNotification), std::vector<bool>{true});
  EXPECT_EQ(notices_.flags(Login::kLoginStatusNotification), std::vector<bool>{false});
  EXPECT_EQ(tokenRequests("refresh_token").size(), 1u);
  EXPECT_FALSE(login_->isLogin());
  EXPECT_FALSE(defaults_.objectForKey("UserDefault_key_orvex_userInfo").has_value());
  EXPECT_EQ(timer_.liveCount(), 0u);
  EXPECT_EQ(mainWindowShows_, 1);
}

}  // namespace
}  // namespace vistrelle::cloud
