#pragma once

// What the ZeroTier client's tests share: the HTTP layer's fixture (a home
// of their own, a main queue on virtual time that the test drains, the
// stand-in on loopback) with the stand-in playing the ZeroTier service, a
// fake privileged reader, and the client pointed at both.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/log/orvex_log.h"
#include "cloud/zerotier/service_com.h"
#include "platform/notify/notification_center.h"
#include "platform/privileged/fake/fake_privileged_reader.h"
#include "support/http_fixture.h"
#include "support/notification_log.h"

namespace vistrelle::cloud::zerotier {

inline constexpr const char* kServiceToken = "zt-token-1";
inline constexpr const char* kNetworkId = "8056c2e21c000001";

using testing::NotificationLog;

class ZeroTierFixture : public HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    service_.setZeroTierToken(kServiceToken);
    client_ = ServiceCom::create(clientOptions());
  }

  void TearDown() override {
    client_.reset();
    HttpFixture::TearDown();
  }

  ServiceCom::Options clientOptions() {
    ServiceCom::Options options;
    options.config = {service_.root(), "/var/lib/zerotier-one/authtoken.secret"};
    // The fixture owns the layer; the client only borrows it.
    options.http = std::shared_ptr<OrvexAlamofireManager>(std::shared_ptr<void>(), http_.get());
    options.reader = reader_;
    options.mainQueue = main_;
    options.console = [this](const std::string& line) { console_.push_back(line); };
    return options;
  }

  std::string userFolder() const { return home_.path() + "/data/ZTORVEX/One"; }
  std::string userCopy() const { return userFolder() + "/authtoken_orvex.secret"; }

  void writeUserCopy(const std::string& text) {
    std::filesystem::create_directories(userFolder());
    std::ofstream(userCopy()) << text;
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

  // The ZeroTier log's messages with their tags, in order.
  std::vector<std::pair<std::string, int>> zeroTierLog() const {
    std::vector<std::pair<std::string, int>> entries;
    std::ifstream file(OrvexLog::logFilePathWithLogName(LogName::ZeroTier));
    std::string line;
    while (std::getline(file, line)) {
      // "<date> <time>: <message>--<tag>"
      const size_t start = line.find(": ");
      const size_t dashes = line.rfind("--");
      if (start == std::string::npos || dashes == std::string::npos || dashes < start) continue;
      entries.emplace_back(line.substr(start + 2, dashes - start - 2),
                           std::stoi(line.substr(dashes + 2)));
    }
    return entries;
  }
  size_t logCount(int tag) const {
    size_t count = 0;
    for (const auto& entry : zeroTierLog()) count += entry.second == tag;
    return count;
  }

  // Three prompts, each after the service's token changed (a 401 first),
  // so that the client refuses every further request.
  void exhaustPrompts() {
    for (int prompt = 1; prompt <= ServiceCom::kMaxPrompts; ++prompt) {
      const std::string token = "token-" + std::to_string(prompt);
      service_.setZeroTierToken(token);
      reader_->script(privileged::FakePrivilegedReader::prompted(token));
      // A cached token meets a 401 first; the next request prompts.
      bool answered = false;
      for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
        int calls = 0;
        ASSERT_FALSE(client_->getNodeStatus(
            [&](std::optional<NodeStatus> status, std::optional<ServiceComError>) {
              ++calls;
              answered = status.has_value();
            }));
        ASSERT_TRUE(runUntil([&] { return calls > 0; }));
      }
    }
    ASSERT_EQ(client_->permissionPopUpCount(), ServiceCom::kMaxPrompts);
  }

  // The requests that reached the ZeroTier routes.
  size_t requestsTo(const std::string& path) const { return service_.requestsTo(path).size(); }

  std::shared_ptr<privileged::FakePrivilegedReader> reader_ =
      std::make_shared<privileged::FakePrivilegedReader>();
  std::shared_ptr<ServiceCom> client_;
};

// What the completion of one request received.
template <typename Value>
struct Answer {
  int calls = 0;
  std::optional<Value> value;
  std::optional<ServiceComError> error;
  bool done() const { return calls > 0; }
  auto completion() {
    return [this](std::optional<Value> v, std::optional<ServiceComError> e) {
      ++calls;
      value = std::move(v);
      error = std::move(e);
    };
  }
};

struct ErrorAnswer {
  int calls = 0;
  std::optional<ServiceComError> error;
  bool done() const { return calls > 0; }
  auto completion() {
    return [this](std::optional<ServiceComError> e) {
      ++calls;
      error = std::move(e);
    };
  }
};

}  // namespace vistrelle::cloud::zerotier
