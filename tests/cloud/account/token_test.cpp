// The token request: the grant by region, what a reply stores, the
// service's refusals passed on, requests that cannot be made refused before
// anything is sent, and a refresh reply that keeps the refresh token it does
// not replace.

#include <gtest/gtest.h>

#include "support/account_fixture.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;

class TokenTest : public AccountFixture {
 protected:
  LoginOutcome requestToken(const std::string& account, std::optional<std::string> code,
                            bool refresh) {
    LoginOutcome outcome;
    login_->requestToken(account, code, refresh, outcome.completion());
    EXPECT_TRUE(runUntil([&] { return outcome.done(); }));
    return outcome;
  }
  LoginOutcome refresh() { return requestToken("", std::nullopt, true); }

  testing::NotificationLog notices_{{Login::kUserInfoUpdatedNotification}};
};

TEST_F(TokenTest, ASignInStoresTheSessionFetchesTheUserAndStartsTheRefreshTask) {
  const struct {
    bool overseas;
    const char* account;
    const char* grant;
    const char* username;
  } regions[] = {{false, kPhone, "mobile", "138****0000"},
                 {true, "alice@example.com", "mail", "a****@example.com"}};
  for (const auto& region : regions) {
    SCOPED_TRACE(region.grant);
    MainState::shared().isOverseas.store(region.overseas);
    // The stand-in's details name the account it signed in.
    service_.scriptOnce(
        "GET", "/api/admin/user/orvex/info",
        Reply::json(200,
                    {{"success", true}, {"msg", ""}, {"data", {{"username", region.account}}}}));
    mainWindowShows_ = 0;
    signInWithCode(region.account);

    const ServiceStandIn::Request token = tokenRequests(region.grant).back();
    EXPECT_EQ(token.method, "POST");
    EXPECT_EQ(token.queryValue(region.grant), region.account);
    EXPECT_EQ(token.queryValue("code"), ServiceStandIn::kVerificationCode);
    EXPECT_EQ(token.queryValue("scope"), "server");
    EXPECT_EQ(token.body, "") << "the parameters travel in the query only";

    EXPECT_TRUE(login_->isLogin());
    const std::string access = storedSession()["access_token"].stringOr("");
    EXPECT_EQ(login_->accessToken(), access);
    EXPECT_EQ(defaults_.stringForKey("userInfo_token_orvex"), access);
    EXPECT_EQ(login_->user_id(), "10001") << "a number in the reply";
    EXPECT_EQ(login_->username(), region.username);
    EXPECT_EQ(defaults_.integerForKey("orvex_refreshAccessToken_timestamp"), nowMilliseconds());
    EXPECT_FALSE(login_->refreshAccessTokenTimer().empty());
    EXPECT_TRUE(timer_.isLive(login_->refreshAccessTokenTimer()));
    EXPECT_EQ(mainWindowShows_, 1);
    login_->clearLoginInfo(false);
  }
  EXPECT_EQ(notices_.count(Login::kUserInfoUpdatedNotification), 2u);
}

TEST_F(TokenTest, TheServicesRefusalsArePassedOn) {
  const LoginOutcome wrongCode = requestToken(kPhone, "654321", false);
  EXPECT_FALSE(wrongCode.success);
  EXPECT_EQ(wrongCode.message, "验证码不合法");

  signInWithCode();
  service_.revokeRefreshTokens();
  const LoginOutcome expired = refresh();
  EXPECT_FALSE(expired.success);
  EXPECT_EQ(expired.message, "请求令牌已过期");
  EXPECT_TRUE(login_->isLogin()) << "a refused refresh clears nothing by itself";
}

TEST_F(TokenTest, WhatCannotBeAskedIsRefusedWithoutARequest) {
  const LoginOutcome noCode = requestToken(kPhone, std::nullopt, false);
  const LoginOutcome emptyCode = requestToken(kPhone, "", false);
  const LoginOutcome noRefreshToken = refresh();
  for (const LoginOutcome& outcome : {noCode, emptyCode}) {
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.message, "请输入验证码");
  }
  EXPECT_FALSE(noRefreshToken.success);
  EXPECT_EQ(noRefreshToken.message, "登录过期，请重新登录");
  main_->runUntilIdle();
  EXPECT_TRUE(service_.requests().empty());

  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  EXPECT_EQ(requestToken(kPhone, std::nullopt, false).message,
            "Please enter the verification code");
}

TEST_F(TokenTest, ATransportFailureIsANetworkError) {
  service_.stop();
  const LoginOutcome outcome = requestToken(kPhone, "123456", false);
  EXPECT_FALSE(outcome.success);
  EXPECT_EQ(outcome.message, "网络错误");
  EXPECT_FALSE(login_->isLogin());
}

TEST_F(TokenTest, ARefreshWithoutARefreshTokenKeepsTheOneThereIs) {
  signInWithCode();
  const std::string firstRefresh = *login_->refresh_token();
  // A live access token alone (its refresh token is never handed out).
  const std::string bare = service_.issueTokens().first;
  service_.scriptOnce("POST", "/api/auth/oauth2/token",
                      Reply::json(200, {{"access_token", bare}, {"token_type", "bearer"}}));
  ASSERT_TRUE(refresh().success);
  EXPECT_EQ(storedSession()["access_token"].stringOr(""), bare);
  EXPECT_EQ(storedSession()["refresh_token"].stringOr(""), firstRefresh);
  EXPECT_EQ(login_->refresh_token(), firstRefresh);
  EXPECT_EQ(defaults_.stringForKey("userInfo_token_orvex"), bare);
  EXPECT_TRUE(storedSession()["user_info"].isMap()) << "the user's details stay";

  // The kept token still refreshes, and a reply with a new one replaces it.
  ASSERT_TRUE(refresh().success);
  EXPECT_EQ(tokenRequests("refresh_token").back().queryValue("refresh_token"), firstRefresh);
  EXPECT_NE(login_->refresh_token(), firstRefresh);
  EXPECT_EQ(storedSession()["refresh_token"].stringOr(""), *login_->refresh_token());
  EXPECT_EQ(login_->accessToken(), storedSession()["access_token"].stringOr("-"));
}

}  // namespace
}  // namespace vistrelle::cloud
