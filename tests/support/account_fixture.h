#pragma once

// What the account session's tests share: the HTTP layer's fixture (a home
// of their own, a main queue on virtual time that the test drains, the
// stand-in on loopback, a fake toast) with a Login installed as the layer's
// session, its store the real settings file in that home, its refresh task
// on the virtual main queue, and a wall clock that follows the virtual one.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/timer/gcx_timer.h"
#include "cloud/account/login.h"
#include "platform/settings/linux/json_file_user_defaults.h"
#include "support/http_fixture.h"
#include "support/notification_log.h"

namespace vistrelle::cloud {

// What one Login completion received.
struct LoginOutcome {
  int calls = 0;
  bool success = false;
  std::optional<std::string> message;

  bool done() const { return calls > 0; }
  Login::Completion completion() {
    return [this](bool ok, std::optional<std::string> text) {
      ++calls;
      success = ok;
      message = std::move(text);
    };
  }
};

class AccountFixture : public HttpFixture {
 protected:
  // 2023-11-14 22:13:20 UTC: the wall clock when the virtual clock is at 0.
  static constexpr int64_t kEpochMilliseconds = 1'700'000'000'000;
  static constexpr const char* kPhone = "13800000000";
  static constexpr const char* kLocalNetwork = "192.168.1.23/24";

  void SetUp() override {
    HttpFixture::SetUp();
    login_ = Login::create(loginOptions());
    http_->setSession(login_);
  }

  void TearDown() override {
    // The layer holds the session: the session goes with it.
    login_.reset();
    HttpFixture::TearDown();
  }

  Login::Options loginOptions() {
    Login::Options options;
    // The fixture owns the layer; the session only borrows it.
    options.http = std::shared_ptr<OrvexAlamofireManager>(std::shared_ptr<void>(), http_.get());
    options.defaults = &defaults_;
    options.timer = &timer_;
    options.mainQueue = main_;
    options.nowMilliseconds = [this] { return nowMilliseconds(); };
    options.localNetworks = [] { return std::vector<std::string>{kLocalNetwork}; };
    options.ensureZeroTierManager = [this] { ++zeroTierManagers_; };
    options.showMainWindow = [this] { ++mainWindowShows_; };
    return options;
  }

  int64_t nowMilliseconds() const {
    return kEpochMilliseconds + clockOffset_ +
           std::chrono::duration_cast<std::chrono::milliseconds>(main_->now()).count();
  }

  std::vector<testing::ServiceStandIn::Request> tokenRequests(const std::string& grant) const {
    std::vector<testing::ServiceStandIn::Request> matching;
    for (const auto& request : service_.requestsTo("/api/auth/oauth2/token")) {
      if (request.queryValue("grant_type") == grant) matching.push_back(request);
    }
    return matching;
  }

  // Signs in with the stand-in's code, and waits until the user's details
  // are stored too.
  void signInWithCode(const std::string& account = kPhone) {
    LoginOutcome outcome;
    login_->requestToken(account, std::string(testing::ServiceStandIn::kVerificationCode), false,
                         outcome.completion());
    ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
    ASSERT_TRUE(outcome.success) << outcome.message.value_or("");
    ASSERT_TRUE(runUntil([&] { return storedSession()["user_info"].isMap(); }));
  }

  Value storedSession() const {
    return defaults_.objectForKey("UserDefault_key_orvex_userInfo").value_or(Value());
  }

  JsonFileUserDefaults defaults_{UserDefaults::standardPath()};
  GCXTimer timer_{main_, runtime_.globalQueue()};
  // Added to the wall clock, to put it where a test wants it.
  int64_t clockOffset_ = 0;
  int zeroTierManagers_ = 0;
  int mainWindowShows_ = 0;
  std::shared_ptr<Login> login_;
};

}  // namespace vistrelle::cloud
