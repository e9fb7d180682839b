// The token-expiry road: a 424 starts one refresh however many requests meet
// it at once; a failed refresh shows the expiry text, clears the session and
// asks for the sign-in; the token path never starts a refresh.

#include <gtest/gtest.h>

#include <thread>

#include "cloud/http/http_client_core.h"
#include "support/http_fixture.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;

class TokenExpiryTest : public HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    // The session refreshes for real, through the layer and the stand-in.
    session_->setRefreshHandler([this](std::function<void(bool)> completion) {
      http_->POSTWithJSON(
          "/api/auth/oauth2/token",
          {{"refresh_token", session_->refreshToken()},
           {"grant_type", "refresh_token"},
           {"scope", "server"}},
          true,
          [this, completion](const ReplyEnvelope& envelope) {
            if (envelope.success) {
              session_->signIn(envelope.reply.at("access_token").get<std::string>(),
                               envelope.reply.at("refresh_token").get<std::string>());
            }
            completion(envelope.success);
          },
          [completion](const HttpError&) { completion(false); });
    });
  }

  // Sends `count` user-info requests from as many threads at once and waits
  // for every block.
  std::vector<Outcome> concurrentRequests(int count) {
    std::vector<Outcome> outcomes(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
      threads.emplace_back([this, &outcomes, i] {
        http_->GETWithJSON("/api/admin/user/orvex/info", nullptr, true, outcomes[i].success(),
                           outcomes[i].failure());
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(runUntil([&] {
      for (const Outcome& o : outcomes) {
        if (!o.done()) return false;
      }
      return true;
    }));
    return outcomes;
  }

  std::vector<bool> notices_;
  Subscription subscription_ = NotificationCenter::defaultCenter().observe(
      HttpClientCore::kLoginExpiredNotification, nullptr,
      [this](const Notification& n) { notices_.push_back(n.object.boolOr(false)); });
};

TEST_F(TokenExpiryTest, ConcurrentExpiredRequestsShareOneRefreshAndKeepTheirEnvelopes) {
  signIn();
  const std::string oldAccess = session_->accessToken();
  service_.expireAccessTokens();

  const std::vector<Outcome> outcomes = concurrentRequests(3);
  for (const Outcome& o : outcomes) {
    ASSERT_EQ(o.successCalls, 1);
    EXPECT_FALSE(o.envelope->success);
    EXPECT_EQ(o.envelope->msg, "用户凭证已过期");
  }
  ASSERT_TRUE(runUntil([&] { return session_->accessToken() != oldAccess; }));
  main_->runUntilIdle();
  EXPECT_EQ(session_->refreshCount(), 1);
  EXPECT_EQ(service_.requestsTo("/api/auth/oauth2/token").size(), 1u);
  EXPECT_EQ(session_->clearCount(), 0);
  EXPECT_TRUE(toasts_->texts().empty());
  EXPECT_TRUE(notices_.empty());

  // The request is not repeated, but the next one goes out with the new token.
  EXPECT_EQ(service_.requestsTo("/api/admin/user/orvex/info").size(), 3u);
  Outcome again;
  http_->GETWithJSON("/api/admin/user/orvex/info", nullptr, true, again.success(), again.failure());
  ASSERT_TRUE(runUntil([&] { return again.done(); }));
  EXPECT_TRUE(again.envelope->success);
}

TEST_F(TokenExpiryTest, AFailedRefreshSignsOutOnceWithTheExpiryTextAndTheNotice) {
  signIn();
  service_.expireAccessTokens();
  service_.revokeRefreshTokens();

  const std::vector<Outcome> outcomes = concurrentRequests(3);
  for (const Outcome& o : outcomes) EXPECT_EQ(o.successCalls, 1);
  ASSERT_TRUE(runUntil([&] { return !toasts_->texts().empty(); }));
  main_->runUntilIdle();
  EXPECT_EQ(toasts_->texts(), std::vector<std::string>{"登录过期，请重新登录"});
  EXPECT_EQ(toasts_->shown().at(0).thread, std::this_thread::get_id());
  EXPECT_EQ(session_->refreshCount(), 1);
  EXPECT_EQ(session_->clearCount(), 1);
  EXPECT_FALSE(session_->isLogin());
  EXPECT_EQ(notices_, std::vector<bool>{true});
}

TEST_F(TokenExpiryTest, NoRefreshFromTheTokenPathOrWithoutARefreshToken) {
  service_.script("POST", "/api/auth/oauth2/token",
                  Reply::json(424, {{"success", false}, {"msg", "请求令牌已过期"}}));
  signIn();
  Outcome token;
  http_->POSTWithJSON("/api/auth/oauth2/token", {{"grant_type", "refresh_token"}}, true,
                      token.success(), token.failure());
  ASSERT_TRUE(runUntil([&] { return token.done(); }));
  ASSERT_EQ(token.successCalls, 1);
  EXPECT_FALSE(token.envelope->success);
  EXPECT_EQ(token.envelope->msg, "请求令牌已过期");

  session_->signIn("not-live", "");
  Outcome info;
  http_->GETWithJSON("/api/admin/user/orvex/info", nullptr, true, info.success(), info.failure());
  ASSERT_TRUE(runUntil([&] { return info.done(); }));
  EXPECT_EQ(info.envelope->reply.at("code"), 424);
  main_->runUntilIdle();
  EXPECT_EQ(session_->refreshCount(), 0);
  EXPECT_EQ(session_->clearCount(), 0);
  EXPECT_TRUE(toasts_->texts().empty());
  EXPECT_TRUE(notices_.empty());
}

}  // namespace
}  // namespace vistrelle::cloud
