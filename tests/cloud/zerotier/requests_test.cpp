// The five requests against the stand-in: what each sends, and what each
// reply does.

#include <gtest/gtest.h>

#include "zerotier_fixture.h"

namespace vistrelle::cloud::zerotier {
namespace {

using privileged::FakePrivilegedReader;
using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;

class RequestsTest : public ZeroTierFixture {
 protected:
  void SetUp() override {
    ZeroTierFixture::SetUp();
    writeUserCopy(kServiceToken);
  }

  ErrorAnswer join(bool dns = false) {
    ErrorAnswer answer;
    EXPECT_FALSE(client_->joinNetwork(kNetworkId, true, false, false, dns, answer.completion()));
    EXPECT_TRUE(runUntil([&] { return answer.done(); }));
    return answer;
  }
  ErrorAnswer leave() {
    ErrorAnswer answer;
    EXPECT_FALSE(client_->leaveNetwork(kNetworkId, answer.completion()));
    EXPECT_TRUE(runUntil([&] { return answer.done(); }));
    return answer;
  }
  std::pair<bool, std::optional<ServiceComError>> quit() {
    int calls = 0;
    std::pair<bool, std::optional<ServiceComError>> result;
    client_->quitZT([&](bool isSuccess, std::optional<ServiceComError> error) {
      ++calls;
      result = {isSuccess, std::move(error)};
    });
    EXPECT_TRUE(runUntil([&] { return calls > 0; }));
    main_->runUntilIdle();
    EXPECT_EQ(calls, 1);
    return result;
  }

  NotificationLog notices_{{"ztZeroTier_join_ok", "notificationName_LoginSuccess"}};
};

TEST_F(RequestsTest, EachRequestSendsItsMethodPathTokenAndBody) {
  Answer<NodeStatus> status;
  Answer<std::vector<Network>> list;
  ASSERT_FALSE(client_->getNodeStatus(status.completion()));
  ASSERT_FALSE(client_->getNetworklist(list.completion()));
  ASSERT_TRUE(runUntil([&] { return status.done() && list.done(); }));
  EXPECT_FALSE(join(true).error.has_value());
  EXPECT_FALSE(leave().error.has_value());
  EXPECT_TRUE(quit().first);

  std::vector<std::string> lines;
  for (const auto& request : service_.requests()) {
    EXPECT_EQ(request.query, std::string("auth=") + kServiceToken);
    lines.push_back(request.method + " " + request.path);
  }
  std::sort(lines.begin(), lines.begin() + 2);  // the first two run side by side
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "GET /network", "GET /status", std::string("POST /network/") + kNetworkId,
                       std::string("DELETE /network/") + kNetworkId, "GET /quit"}));
  const auto joined = service_.requestsTo(std::string("/network/") + kNetworkId).front();
  EXPECT_EQ(joined.header("Content-Type"), "application/json");
  EXPECT_EQ(nlohmann::json::parse(joined.body), (nlohmann::json{{"allowManaged", true},
                                                                {"allowGlobal", false},
                                                                {"allowDefault", false},
                                                                {"allowDNS", true}}));
  EXPECT_EQ(service_.requestsTo("/status").front().body, "");
}

TEST_F(RequestsTest, TheRepliesAreParsed) {
  ASSERT_TRUE(join().error == std::nullopt);
  Answer<NodeStatus> status;
  Answer<std::vector<Network>> list;
  ASSERT_FALSE(client_->getNodeStatus(status.completion()));
  ASSERT_FALSE(client_->getNetworklist(list.completion()));
  ASSERT_TRUE(runUntil([&] { return status.done() && list.done(); }));
  ASSERT_TRUE(status.value.has_value());
  EXPECT_EQ(status.value->address, ServiceStandIn::kZeroTierAddress);
  EXPECT_EQ(status.value->version, "1.12.2");
  EXPECT_EQ(status.value->clock, 1700000000000u);
  EXPECT_TRUE(status.value->online);
  ASSERT_TRUE(list.value.has_value());
  ASSERT_EQ(list.value->size(), 1u);
  const Network& network = list.value->front();
  EXPECT_EQ(Network::networkIdText(network.nwid), kNetworkId);
  EXPECT_EQ(network.status, NetworkStatus::ok);
  EXPECT_EQ(network.type, NetworkType::privateNetwork);
  EXPECT_TRUE(network.allowManaged);
  EXPECT_TRUE(network.connected);
  EXPECT_EQ(network.assignedAddresses, std::vector<std::string>{"10.147.17.5/24"});
}

TEST_F(RequestsTest, JoinOkPostsTheNodeAddressAndCompletesWithoutAnError) {
  client_->setNodeAddressSource([] { return std::optional<std::string>("a1b2c3d4e5"); });
  const ErrorAnswer answer = join();
  EXPECT_FALSE(answer.error.has_value());
  EXPECT_EQ(answer.calls, 1);
  const auto posted = notices_.named("ztZeroTier_join_ok");
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].object, Value("a1b2c3d4e5"));
  main_->advanceBy(std::chrono::seconds(2));
  EXPECT_EQ(notices_.count("notificationName_LoginSuccess"), 0u);
}

TEST_F(RequestsTest, AFailedJoinCompletesWithItsStatusAndPostsLoginSuccessHalfASecondLater) {
  service_.scriptOnce("POST", std::string("/network/") + kNetworkId, Reply::text(500, "oops"));
  const ErrorAnswer answer = join();
  ASSERT_TRUE(answer.error.has_value());
  EXPECT_EQ(answer.error->statusCode(), 500);
  EXPECT_EQ(notices_.count("ztZeroTier_join_ok"), 0u);
  main_->advanceBy(std::chrono::milliseconds(499));
  EXPECT_EQ(notices_.count("notificationName_LoginSuccess"), 0u);
  main_->advanceBy(std::chrono::milliseconds(1));
  const auto posted = notices_.named("notificationName_LoginSuccess");
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].object, Value(true));
}

TEST_F(RequestsTest, AJoinWithoutAReplyAlsoPostsLoginSuccessButA401DoesNot) {
  service_.scriptOnce("POST", std::string("/network/") + kNetworkId, Reply::hangingUp());
  const ErrorAnswer cut = join();
  ASSERT_TRUE(cut.error.has_value());
  EXPECT_EQ(cut.error->kind(), ServiceComError::Kind::transport);
  EXPECT_EQ(cut.error->statusCode(), 0);
  main_->advanceBy(std::chrono::milliseconds(500));
  EXPECT_EQ(notices_.count("notificationName_LoginSuccess"), 1u);
  EXPECT_EQ(zeroTierLog().back().second, ServiceCom::kJoinTransportTag);

  service_.setZeroTierToken("another");
  const ErrorAnswer refused = join();
  ASSERT_TRUE(refused.error.has_value());
  EXPECT_EQ(refused.error->statusCode(), 401);
  EXPECT_TRUE(client_->resetKey());
  main_->advanceBy(std::chrono::seconds(1));
  EXPECT_EQ(notices_.count("notificationName_LoginSuccess"), 1u);
}

TEST_F(RequestsTest, QuitSucceedsWhenTheServiceClosesTheConnectionAndFailsOnAnErrorStatus) {
  // The stand-in's quit hangs up, as the service exiting does.
  const auto closed = quit();
  EXPECT_TRUE(closed.first);
  EXPECT_FALSE(closed.second.has_value());

  service_.scriptOnce("GET", "/quit", Reply::text(500, ""));
  const auto failed = quit();
  EXPECT_FALSE(failed.first);
  ASSERT_TRUE(failed.second.has_value());
  EXPECT_EQ(failed.second->statusCode(), 500);

  service_.scriptOnce("GET", "/quit", Reply::json(200, {{"result", true}}));
  EXPECT_TRUE(quit().first);
}

TEST_F(RequestsTest, AQuitWithoutTokenFailsWithTheTokenError) {
  std::filesystem::remove(userCopy());
  reader_->script(FakePrivilegedReader::refused(privileged::PrivilegedReadResult::Outcome::denied));
  const auto result = quit();
  EXPECT_FALSE(result.first);
  ASSERT_TRUE(result.second.has_value());
  EXPECT_EQ(result.second->description(), "Couldn't copy authorization rights");
  EXPECT_EQ(requestsTo("/quit"), 0u);
}

TEST_F(RequestsTest, LeaveOkResetsThePromptCount) {
  // One prompt, after the service's token changed.
  service_.setZeroTierToken("token-2");
  ASSERT_EQ(join().error->statusCode(), 401);
  reader_->script(FakePrivilegedReader::prompted("token-2"));
  ASSERT_FALSE(join().error.has_value());
  ASSERT_EQ(client_->permissionPopUpCount(), 0);  // the join's 200 already did
  service_.setZeroTierToken("token-3");
  ASSERT_EQ(leave().error->statusCode(), 401);
  reader_->script(FakePrivilegedReader::prompted("token-3"));
  service_.scriptOnce("DELETE", std::string("/network/") + kNetworkId, Reply::text(500, ""));
  EXPECT_EQ(leave().error->statusCode(), 500);
  EXPECT_EQ(client_->permissionPopUpCount(), 1);
  EXPECT_FALSE(leave().error.has_value());
  EXPECT_EQ(client_->permissionPopUpCount(), 0);
}

TEST_F(RequestsTest, ReplyErrorsAreLoggedWithTheirTagsAndTheTokenNever) {
  service_.scriptOnce("GET", "/status", Reply::text(200, "not json"));
  service_.scriptOnce("GET", "/network", Reply::json(200, {{"not", "an array"}}));
  Answer<NodeStatus> status;
  Answer<std::vector<Network>> list;
  ASSERT_FALSE(client_->getNodeStatus(status.completion()));
  ASSERT_FALSE(client_->getNetworklist(list.completion()));
  ASSERT_TRUE(runUntil([&] { return status.done() && list.done(); }));
  EXPECT_EQ(status.error->kind(), ServiceComError::Kind::reply);
  EXPECT_EQ(list.error->kind(), ServiceComError::Kind::reply);
  service_.scriptOnce("DELETE", std::string("/network/") + kNetworkId, Reply::hangingUp());
  EXPECT_EQ(leave().error->kind(), ServiceComError::Kind::transport);

  std::vector<int> tags;
  for (const auto& [message, tag] : zeroTierLog()) {
    tags.push_back(tag);
    EXPECT_EQ(message.find(kServiceToken), std::string::npos) << message;
    EXPECT_EQ(message.find("auth="), std::string::npos) << message;
  }
  std::sort(tags.begin(), tags.end());
  EXPECT_EQ(tags, (std::vector<int>{ServiceCom::kListJsonTag, ServiceCom::kStatusJsonTag,
                                    ServiceCom::kLeaveTransportTag}));
}

TEST_F(RequestsTest, AServiceThatIsNotRunningIsLoggedOncePerChange) {
  const int port = service_.port();
  const auto poll = [&](int times) {
    for (int i = 0; i < times; ++i) {
      Answer<NodeStatus> status;
      Answer<std::vector<Network>> list;
      ASSERT_FALSE(client_->getNodeStatus(status.completion()));
      ASSERT_FALSE(client_->getNetworklist(list.completion()));
      ASSERT_TRUE(runUntil([&] { return status.done() && list.done(); }));
    }
  };
  service_.stop();
  poll(5);
  auto entries = zeroTierLog();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].second == ServiceCom::kStatusTransportTag ||
              entries[0].second == ServiceCom::kListTransportTag);

  // It comes back, and goes away again: one more line.
  {
    ServiceStandIn again(port);
    again.setZeroTierToken(kServiceToken);
    poll(2);
    EXPECT_GE(again.requests().size(), 4u);
  }
  EXPECT_EQ(zeroTierLog().size(), 1u);
  poll(3);
  EXPECT_EQ(zeroTierLog().size(), 2u);
}

}  // namespace
}  // namespace vistrelle::cloud::zerotier
