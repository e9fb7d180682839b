// Signing out: the session file emptied, the store and the fields cleared,
// the status notice at once or half a second later, only the session's own
// transfers cancelled, a late token reply that signs nobody back in, and the
// logout request.

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/account_fixture.h"

namespace vistrelle::cloud {
namespace {

using namespace std::chrono_literals;
using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;

class SignOutTest : public AccountFixture {
 protected:
  std::string sessionFile() const {
    return home_.path() + "/Documents/.OrvexSpace/.cn.com.qx.orvexForMac.plist";
  }
  static std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  static unsigned modeOf(const std::string& path) {
    return static_cast<unsigned>(std::filesystem::status(path).permissions());
  }
  LoginOutcome logout() {
    LoginOutcome outcome;
    login_->logout(outcome.completion());
    EXPECT_TRUE(runUntil([&] { return outcome.done(); }));
    return outcome;
  }

  testing::NotificationLog notices_{{Login::kLoginStatusNotification}};
  testing::NotificationLog details_{{Login::kUserInfoUpdatedNotification}};
};

TEST_F(SignOutTest, ClearingEmptiesTheFileTheStoreAndTheFields) {
  signInWithCode();
  defaults_.setString("userInfo_ztNetworkRoomId_orvex", std::string(ServiceStandIn::kNetworkId));
  ASSERT_TRUE(defaults_.synchronize());
  mainWindowShows_ = 0;

  login_->clearLoginInfo(false);
  for (const char* key : {"UserDefault_key_orvex_userInfo", "userInfo_token_orvex",
                          "userInfo_ztNetworkRoomId_orvex", "orvex_refreshAccessToken_timestamp"}) {
    EXPECT_FALSE(defaults_.objectForKey(key).has_value()) << key;
    // On disk as well: a second store reads the file afresh.
    EXPECT_FALSE(JsonFileUserDefaults(defaults_.path()).objectForKey(key).has_value()) << key;
  }
  // The fields go at once, not at the next isLogin().
  EXPECT_EQ(login_->accessToken(), "");
  EXPECT_FALSE(login_->refresh_token().has_value());
  EXPECT_FALSE(login_->username().has_value());
  EXPECT_FALSE(login_->user_id().has_value());
  EXPECT_TRUE(login_->refreshAccessTokenTimer().empty());
  EXPECT_EQ(timer_.liveCount(), 0u);
  EXPECT_EQ(mainWindowShows_, 1);
  EXPECT_FALSE(login_->isLogin());

  // The session file holds an empty dictionary, as libplist reads it.
  const std::string xml = fileText(sessionFile());
  plist_t root = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  ASSERT_NE(root, nullptr) << xml;
  EXPECT_EQ(plist_get_node_type(root), PLIST_DICT);
  EXPECT_EQ(plist_dict_get_size(root), 0u);
  plist_free(root);

  // The file and the store are the owner's alone.
  EXPECT_EQ(modeOf(sessionFile()), 0600u);
  EXPECT_EQ(modeOf(defaults_.path()), 0600u);
  EXPECT_EQ(modeOf(std::filesystem::path(defaults_.path()).parent_path()), 0700u);
}

TEST_F(SignOutTest, TheStatusNoticeComesAtOnceOrHalfASecondLater) {
  login_->clearLoginInfo(false);
  EXPECT_EQ(notices_.flags(Login::kLoginStatusNotification), std::vector<bool>{false});

  notices_.clear();
  login_->clearLoginInfo(true);
  EXPECT_EQ(notices_.count(Login::kLoginStatusNotification), 0u);
  main_->advanceBy(499ms);
  EXPECT_EQ(notices_.count(Login::kLoginStatusNotification), 0u);
  main_->advanceBy(1ms);
  EXPECT_EQ(notices_.flags(Login::kLoginStatusNotification), std::vector<bool>{false});
}

TEST_F(SignOutTest, OnlyTheSessionsTransfersAreCancelled) {
  signInWithCode();
  const std::string packagePath =
      "/api" + service_.latestRelease()["downloadUrl"].get<std::string>();
  ServiceStandIn::Reply slowPackage =
      Reply::text(200, service_.package(), "application/octet-stream");
  slowPackage.delay = 300ms;
  service_.script("GET", packagePath, slowPackage);
  ServiceStandIn::Reply slowInfo =
      Reply::json(200, {{"success", true}, {"data", {{"username", "x"}}}});
  slowInfo.delay = 300ms;
  service_.script("GET", "/api/admin/user/orvex/info", slowInfo);

  std::optional<std::string> file;
  std::optional<HttpError> downloadError;
  http_->downloadRequest(service_.root() + packagePath, nullptr,
                         [&](std::optional<std::string> path, std::optional<HttpError> error) {
                           file = std::move(path);
                           downloadError = std::move(error);
                         });
  const size_t before = service_.requests().size();
  details_.clear();
  login_->getUserInfo();
  ASSERT_TRUE(service_.waitForRequests(before + 2));

  login_->clearLoginInfo(false);
  ASSERT_TRUE(runUntil([&] { return file || downloadError; }));
  ASSERT_TRUE(file.has_value()) << downloadError->text();
  EXPECT_EQ(fileText(*file), service_.package());
  main_->runUntilIdle();
  EXPECT_EQ(details_.count(Login::kUserInfoUpdatedNotification), 0u)
      << "the cancelled details never arrive";
}

TEST_F(SignOutTest, ARefreshInFlightEndsUnsuccessfulAndSignsNobodyIn) {
  signInWithCode();
  // A valid token reply, held back until after the sign-out.
  const auto [access, refresh] = service_.issueTokens();
  ServiceStandIn::Reply late = Reply::json(
      200, {{"access_token", access}, {"refresh_token", refresh}, {"token_type", "bearer"}});
  late.delay = 300ms;
  service_.scriptOnce("POST", "/api/auth/oauth2/token", late);

  std::optional<bool> refreshed;
  const size_t before = service_.requests().size();
  login_->refresh([&](bool ok) { refreshed = ok; });
  ASSERT_TRUE(service_.waitForRequests(before + 1));
  login_->clearLoginInfo(false);
  ASSERT_TRUE(runUntil([&] { return refreshed.has_value(); }));
  EXPECT_FALSE(*refreshed);
  main_->runUntilIdle();
  EXPECT_FALSE(login_->isLogin());
  EXPECT_FALSE(defaults_.objectForKey("UserDefault_key_orvex_userInfo").has_value());
  EXPECT_FALSE(defaults_.objectForKey("userInfo_token_orvex").has_value());
  EXPECT_FALSE(defaults_.objectForKey("orvex_refreshAccessToken_timestamp").has_value());
  EXPECT_EQ(timer_.liveCount(), 0u);
}

TEST_F(SignOutTest, LogoutAsksTheServiceAndClearsOnlyWhenItAgrees) {
  // Signed out: nothing sent and no answer.
  bool answered = false;
  login_->logout([&](bool, std::optional<std::string>) { answered = true; });
  main_->runUntilIdle();
  EXPECT_TRUE(service_.requestsTo("/api/auth/token/logout").empty());
  EXPECT_FALSE(answered);

  signInWithCode();
  service_.scriptOnce("DELETE", "/api/auth/token/logout",
                      Reply::json(200, {{"success", false}, {"msg", "退出失败"}}));
  const LoginOutcome refused = logout();
  EXPECT_FALSE(refused.success);
  EXPECT_EQ(refused.message, "退出失败");
  EXPECT_TRUE(login_->isLogin());

  service_.scriptOnce("DELETE", "/api/auth/token/logout", Reply::text(500, ""));
  const LoginOutcome failed = logout();
  EXPECT_FALSE(failed.success);
  EXPECT_EQ(failed.message, "网络错误");
  EXPECT_TRUE(login_->isLogin());

  const std::string access = login_->accessToken();
  notices_.clear();
  const LoginOutcome done = logout();
  EXPECT_TRUE(done.success);
  EXPECT_FALSE(done.message.has_value());
  const ServiceStandIn::Request request = service_.requestsTo("/api/auth/token/logout").back();
  EXPECT_EQ(request.method, "DELETE");
  EXPECT_EQ(request.header("Authorization"), "Bearer " + access);
  EXPECT_EQ(request.body, "");
  EXPECT_FALSE(login_->isLogin());
  EXPECT_EQ(notices_.flags(Login::kLoginStatusNotification), std::vector<bool>{false});
}

}  // namespace
}  // namespace vistrelle::cloud
