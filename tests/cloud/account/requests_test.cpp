// The session's other requests: the verification code by region with the
// account as one path segment, the user's details, the ZeroTier network and
// its authorisation with their toasts; and no token or code in any log.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/account_fixture.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;

nlohmann::json envelope(bool success, const std::string& msg, nlohmann::json data = nullptr) {
  return {{"success", success}, {"code", success ? 0 : 1}, {"msg", msg}, {"data", data}};
}

class RequestsTest : public AccountFixture {
 protected:
  LoginOutcome verificationCode(const std::optional<std::string>& account) {
    LoginOutcome outcome;
    login_->getVerificationCode(account, outcome.completion());
    EXPECT_TRUE(runUntil([&] { return outcome.done(); }));
    return outcome;
  }

  std::optional<bool> authorize() {
    std::optional<bool> result;
    login_->authorizeZtNetwork(std::string(ServiceStandIn::kNetworkId), "a1b2c3d4e5",
                               [&](bool ok) { result = ok; });
    EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
    return result;
  }
};

TEST_F(RequestsTest, TheCodeGoesToThePhoneOrTheAddressAsOnePathSegment) {
  const struct {
    bool overseas;
    std::string account;
    std::string path;
  } cases[] = {
      {false, kPhone, std::string("/api/admin/mobile/") + kPhone},
      {true, "alice+1@example.com", "/api/admin/mail/alice+1@example.com"},
      {true, "../user/orvex/info?x=1", "/api/admin/mail/..%2Fuser%2Forvex%2Finfo%3Fx%3D1"},
  };
  for (const auto& c : cases) {
    MainState::shared().isOverseas.store(c.overseas);
    const LoginOutcome outcome = verificationCode(c.account);
    EXPECT_TRUE(outcome.success) << c.account;
    EXPECT_FALSE(outcome.message.has_value());
    const ServiceStandIn::Request request = service_.requests().back();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, c.path);
    EXPECT_EQ(request.query, "");
  }

  service_.scriptOnce("GET", std::string("/api/admin/mail/") + "bob@example.com",
                      Reply::json(200, envelope(false, "发送太频繁")));
  const LoginOutcome refused = verificationCode("bob@example.com");
  EXPECT_FALSE(refused.success);
  EXPECT_EQ(refused.message, "发送太频繁");

  service_.stop();
  const LoginOutcome failed = verificationCode(std::nullopt);
  EXPECT_FALSE(failed.success);
  EXPECT_EQ(failed.message, "网络问题，请稍候再试");
  EXPECT_TRUE(toasts_->texts().empty()) << "the caller shows it";
}

TEST_F(RequestsTest, TheUsersDetailsAreStoredWholeAndAnnounced) {
  testing::NotificationLog notices({Login::kUserInfoUpdatedNotification});
  login_->getUserInfo();
  main_->runUntilIdle();
  EXPECT_TRUE(service_.requests().empty()) << "signed out: nothing is sent";

  signInWithCode();
  EXPECT_EQ(notices.count(Login::kUserInfoUpdatedNotification), 1u);
  const Value stored = storedSession()["user_info"];
  EXPECT_EQ(stored["userId"].intOr(0), 10001);
  EXPECT_EQ(stored["avatar"].stringOr(""), "/avatar/10001.png");
  EXPECT_TRUE(login_->isLogin());
  EXPECT_EQ(login_->avatar(), service_.root() + "/api/avatar/10001.png");
  EXPECT_EQ(service_.requestsTo("/api/admin/user/orvex/info").back().header("Authorization"),
            "Bearer " + login_->accessToken());

  // Details without "data" remove the old ones.
  service_.scriptOnce("GET", "/api/admin/user/orvex/info", Reply::json(200, envelope(true, "")));
  login_->getUserInfo();
  ASSERT_TRUE(runUntil([&] { return notices.count(Login::kUserInfoUpdatedNotification) == 2; }));
  EXPECT_FALSE(storedSession()["user_info"].isMap());
  EXPECT_TRUE(login_->isLogin());
}

TEST_F(RequestsTest, TheNetworkIdIsStoredOrRemoved) {
  signInWithCode();
  std::vector<std::string> ids;
  const auto ask = [&] { login_->getZtNetwork([&](const std::string& id) { ids.push_back(id); }); };

  ask();
  ASSERT_TRUE(runUntil([&] { return !ids.empty(); }));
  EXPECT_EQ(ids, std::vector<std::string>{std::string(ServiceStandIn::kNetworkId)});
  EXPECT_EQ(defaults_.stringForKey("userInfo_ztNetworkRoomId_orvex"), ServiceStandIn::kNetworkId);
  const ServiceStandIn::Request request = service_.requestsTo("/api/admin/ztNetwork").back();
  EXPECT_EQ(nlohmann::json::parse(request.body),
            (nlohmann::json{{"localNetwork", {kLocalNetwork}}}));
  EXPECT_EQ(request.header("Content-Type"), "application/json");
  EXPECT_EQ(request.header("Authorization"), "Bearer " + login_->accessToken());

  // No id in the reply: the stored one goes, and nobody is answered.
  ids.clear();
  service_.scriptOnce("POST", "/api/admin/ztNetwork",
                      Reply::json(200, envelope(true, "", {{"other", 1}})));
  ask();
  ASSERT_TRUE(runUntil(
      [&] { return !defaults_.objectForKey("userInfo_ztNetworkRoomId_orvex").has_value(); }));
  main_->runUntilIdle();
  EXPECT_TRUE(ids.empty());
  EXPECT_TRUE(toasts_->texts().empty());

  // A refusal answers "" and shows the service's text; a failure the
  // network text, once.
  service_.scriptOnce("POST", "/api/admin/ztNetwork",
                      Reply::json(200, envelope(false, "无可用网络")));
  ask();
  ASSERT_TRUE(runUntil([&] { return !ids.empty(); }));
  service_.scriptOnce("POST", "/api/admin/ztNetwork", Reply::text(500, ""));
  ask();
  ASSERT_TRUE(runUntil([&] { return ids.size() == 2; }));
  main_->runUntilIdle();
  EXPECT_EQ(ids, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(toasts_->texts(), (std::vector<std::string>{"无可用网络", "网络问题，请稍候再试"}));
}

TEST_F(RequestsTest, AuthorisingMakesSureTheZeroTierManagerExists) {
  signInWithCode();
  EXPECT_EQ(authorize(), std::optional<bool>(true));
  EXPECT_EQ(zeroTierManagers_, 1);
  EXPECT_EQ(
      nlohmann::json::parse(service_.requestsTo("/api/admin/ztNetwork/authorize").back().body),
      (nlohmann::json{{"networkId", ServiceStandIn::kNetworkId}, {"nodeId", "a1b2c3d4e5"}}));

  service_.scriptOnce("POST", "/api/admin/ztNetwork/authorize",
                      Reply::json(200, envelope(false, "节点不存在")));
  EXPECT_EQ(authorize(), std::optional<bool>(false));
  service_.scriptOnce("POST", "/api/admin/ztNetwork/authorize", Reply::text(502, ""));
  EXPECT_EQ(authorize(), std::optional<bool>(false));
  EXPECT_EQ(zeroTierManagers_, 1);
  EXPECT_EQ(toasts_->texts(), (std::vector<std::string>{"节点不存在", "网络问题，请稍候再试"}));
}

TEST_F(RequestsTest, NoTokenOrCodeReachesALog) {
  signInWithCode();
  std::vector<std::string> secrets = {login_->accessToken(), *login_->refresh_token(),
                                      std::string(ServiceStandIn::kVerificationCode)};
  LoginOutcome refreshed;
  login_->requestToken("", std::nullopt, true, refreshed.completion());
  ASSERT_TRUE(runUntil([&] { return refreshed.done(); }));
  ASSERT_TRUE(refreshed.success);
  secrets.push_back(login_->accessToken());
  secrets.push_back(*login_->refresh_token());
  LoginOutcome loggedOut;
  login_->logout(loggedOut.completion());
  ASSERT_TRUE(runUntil([&] { return loggedOut.done(); }));
  login_->getUserInfo();  // signed out: the gate logs the path

  std::string logs;
  for (const auto& entry :
       std::filesystem::directory_iterator(home_.path() + "/Documents/.OrvexSpace")) {
    std::ifstream file(entry.path());
    std::stringstream text;
    text << file.rdbuf();
    logs += text.str();
  }
  for (const std::string& line : console_) logs += line;
  EXPECT_NE(logs.find("/api/admin/user/orvex/info"), std::string::npos) << logs;
  for (const std::string& secret : secrets) EXPECT_EQ(logs.find(secret), std::string::npos);
}

}  // namespace
}  // namespace vistrelle::cloud
