#pragma once

// What the HTTP layer's tests share: a home folder of their own, a main queue
// the test thread drains, the service stand-in, a fake session and toast, and
// the layer pointed at the stand-in.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/helpers/language.h"
#include "base/helpers/orvex_localization_helper.h"
#include "base/state/main_state.h"
#include "cloud/http/fake/fake_account_session.h"
#include "cloud/http/orvex_alamofire_manager.h"
#include "platform/dispatch/runtime.h"
#include "platform/message/fake/fake_transient_message.h"
#include "support/service_stand_in.h"
#include "support/signalling_main_queue.h"

namespace vistrelle::cloud {

// A temporary $HOME (and XDG folders under it) for the test's lifetime, set
// before any thread exists.
class TemporaryHome {
 public:
  TemporaryHome() {
    std::string pattern =
        std::filesystem::temp_directory_path().string() + "/vistrelle-http-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    ::setenv("HOME", path_.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (path_ + "/cache").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (path_ + "/data").c_str(), 1);
  }
  ~TemporaryHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class HttpFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    MainState::shared().reset();
    message::TransientMessage::install(toasts_);
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    http_ = std::make_unique<OrvexAlamofireManager>(options());
  }

  void TearDown() override {
    http_.reset();
    message::TransientMessage::install(nullptr);
    MainState::shared().reset();
  }

  virtual OrvexAlamofireManager::Options options() {
    OrvexAlamofireManager::Options options;
    options.config = {service_.root(), service_.root(),
                      std::string(testing::ServiceStandIn::kClientCredential)};
    options.mainQueue = main_;
    options.session = session_;
    options.requestTimeout = std::chrono::seconds(10);
    options.downloadFolder = [folder = downloads()] { return folder; };
    options.console = [this](const std::string& line) { console_.push_back(line); };
    return options;
  }

  std::string downloads() const { return home_.path() + "/downloads"; }

  // Drains the main queue until `done` holds; false after the limit.
  bool runUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return main_->runUntil(done, limit);
  }

  // Signs the fake session and the stand-in in with one token pair.
  void signIn() {
    const auto [access, refresh] = service_.issueTokens();
    session_->signIn(access, refresh);
  }

  TemporaryHome home_;
  std::shared_ptr<testing::SignallingMainQueue> main_ =
      std::make_shared<testing::SignallingMainQueue>();
  dispatch::Runtime runtime_{main_, dispatch::Runtime::Options{2}};
  std::shared_ptr<message::FakeTransientMessage> toasts_ =
      std::make_shared<message::FakeTransientMessage>();
  testing::ServiceStandIn service_;
  std::shared_ptr<FakeAccountSession> session_ = std::make_shared<FakeAccountSession>();
  std::vector<std::string> console_;
  std::unique_ptr<OrvexAlamofireManager> http_;
};

// What the blocks of one JSON request received.
struct Outcome {
  int successCalls = 0;
  int failureCalls = 0;
  std::optional<ReplyEnvelope> envelope;
  std::optional<HttpError> error;

  bool done() const { return successCalls + failureCalls > 0; }
  SuccessBlock success() {
    return [this](const ReplyEnvelope& e) {
      ++successCalls;
      envelope = e;
    };
  }
  FailureBlock failure() {
    return [this](const HttpError& e) {
      ++failureCalls;
      error = e;
    };
  }
};

}  // namespace vistrelle::cloud
