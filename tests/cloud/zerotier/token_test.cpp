// The service's token: where it comes from, in which order, what a 401
// does, and how prompts are bounded.

#include <gtest/gtest.h>

#include "zerotier_fixture.h"

namespace vistrelle::cloud::zerotier {
namespace {

using privileged::FakePrivilegedReader;
using privileged::PrivilegedReadResult;
using Outcome = PrivilegedReadResult::Outcome;
using testing::ServiceStandIn;

class TokenTest : public ZeroTierFixture {
 protected:
  // One status request, run to its end.
  Answer<NodeStatus> status() {
    Answer<NodeStatus> answer;
    const std::optional<ServiceComError> refused = client_->getNodeStatus(answer.completion());
    EXPECT_FALSE(refused.has_value()) << refused->description();
    EXPECT_TRUE(runUntil([&] { return answer.done(); }));
    return answer;
  }
  std::vector<std::string> authsSent() const {
    std::vector<std::string> auths;
    for (const auto& request : service_.requestsTo("/status")) {
      auths.push_back(request.queryValue("auth").value_or("<none>"));
    }
    return auths;
  }
};

TEST_F(TokenTest, TheUserCopyComesBeforeThePromptWithoutItsLineBreak) {
  writeUserCopy(std::string(kServiceToken) + "\n");
  reader_->setFallback(FakePrivilegedReader::prompted("never-read"));
  const Answer<NodeStatus> answer = status();
  ASSERT_TRUE(answer.value.has_value());
  EXPECT_EQ(answer.value->address, testing::ServiceStandIn::kZeroTierAddress);
  EXPECT_EQ(authsSent(), std::vector<std::string>{kServiceToken});
  EXPECT_EQ(reader_->readCount(), 0u);
  EXPECT_EQ(client_->permissionPopUpCount(), 0);
}

TEST_F(TokenTest, WithoutACopyThePrivilegedReadWritesOneThatOnlyTheUserMayRead) {
  reader_->script(FakePrivilegedReader::prompted(kServiceToken));
  const Answer<NodeStatus> answer = status();
  ASSERT_TRUE(answer.value.has_value());
  EXPECT_EQ(reader_->paths(), std::vector<std::string>{"/var/lib/zerotier-one/authtoken.secret"});
  EXPECT_EQ(client_->permissionPopUpCount(), 1);
  EXPECT_EQ(fileText(userCopy()), kServiceToken);
  EXPECT_EQ(modeOf(userCopy()), 0600u);
  EXPECT_EQ(modeOf(userFolder()), 0700u);
  EXPECT_EQ(modeOf(home_.path() + "/data/ZTORVEX"), 0700u);
  // No temporary file left beside it.
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(userFolder())) {
    ++files;
  }
  EXPECT_EQ(files, 1u);

  // Then the cache: neither the copy nor the reader is asked again.
  std::filesystem::remove(userCopy());
  EXPECT_TRUE(status().value.has_value());
  EXPECT_EQ(reader_->readCount(), 1u);
  EXPECT_EQ(authsSent(), (std::vector<std::string>{kServiceToken, kServiceToken}));
}

TEST_F(TokenTest, AnExistingFolderWithAWiderModeIsNarrowed) {
  std::filesystem::create_directories(userFolder());
  std::filesystem::permissions(userFolder(), std::filesystem::perms(0755));
  std::filesystem::permissions(home_.path() + "/data/ZTORVEX", std::filesystem::perms(0755));
  reader_->script(FakePrivilegedReader::direct(kServiceToken));
  ASSERT_TRUE(status().value.has_value());
  EXPECT_EQ(modeOf(userFolder()), 0700u);
  EXPECT_EQ(modeOf(home_.path() + "/data/ZTORVEX"), 0700u);
  // A read that needed no prompt does not count as one.
  EXPECT_EQ(client_->permissionPopUpCount(), 0);
}

TEST_F(TokenTest, A401MakesTheNextRequestSkipTheCopyPromptOnceAndOverwriteIt) {
  writeUserCopy("stale-token\n");
  const Answer<NodeStatus> refused = status();
  ASSERT_TRUE(refused.error.has_value());
  EXPECT_EQ(refused.error->statusCode(), 401);
  EXPECT_TRUE(client_->resetKey());
  EXPECT_EQ(reader_->readCount(), 0u);

  reader_->script(FakePrivilegedReader::prompted(kServiceToken));
  // Two requests wait for the one prompt.
  Answer<NodeStatus> first;
  Answer<std::vector<Network>> second;
  ASSERT_FALSE(client_->getNodeStatus(first.completion()));
  ASSERT_FALSE(client_->getNetworklist(second.completion()));
  ASSERT_TRUE(runUntil([&] { return first.done() && second.done(); }));
  EXPECT_TRUE(first.value.has_value());
  EXPECT_TRUE(second.value.has_value());
  EXPECT_EQ(reader_->readCount(), 1u);
  EXPECT_FALSE(client_->resetKey());
  EXPECT_EQ(client_->failureCount(), 1);
  EXPECT_EQ(fileText(userCopy()), kServiceToken);
  EXPECT_EQ(authsSent(), (std::vector<std::string>{"stale-token", kServiceToken}));
}

TEST_F(TokenTest, AfterA401AndARefusedPromptTheRefusedCopyIsNotSentAgain) {
  writeUserCopy("stale-token");
  ASSERT_EQ(status().error->statusCode(), 401);
  reader_->script(FakePrivilegedReader::refused(Outcome::canceled));
  ASSERT_EQ(status().error->kind(), ServiceComError::Kind::authorization);
  const Answer<NodeStatus> again = status();
  ASSERT_TRUE(again.error.has_value());
  EXPECT_EQ(again.error->description(), "Couldn't copy authorization rights");
  EXPECT_EQ(requestsTo("/status"), 1u);
  EXPECT_TRUE(client_->resetKey());
}

TEST_F(TokenTest, ALate401ForAReplacedTokenKeepsTheNewOne) {
  reader_->script(FakePrivilegedReader::prompted("token-a"));
  service_.setZeroTierToken("token-a");
  ASSERT_TRUE(status().value.has_value());
  // The first request is let through with token-a, and its 401 held back.
  ServiceStandIn::Reply late = ServiceStandIn::Reply::json(401, {{"error", "late"}});
  late.delay = std::chrono::seconds(1);
  service_.scriptOnce("GET", "/status", late);
  Answer<NodeStatus> slow;
  ASSERT_FALSE(client_->getNodeStatus(slow.completion()));
  ASSERT_TRUE(service_.waitForRequests(2));
  // Meanwhile the token changes, and the next request gets the new one.
  service_.setZeroTierToken("token-b");
  reader_->script(FakePrivilegedReader::prompted("token-b"));
  ASSERT_EQ(status().error->statusCode(), 401);
  ASSERT_TRUE(status().value.has_value());
  ASSERT_FALSE(slow.done());
  ASSERT_TRUE(runUntil([&] { return slow.done(); }));
  EXPECT_EQ(slow.error->statusCode(), 401);
  EXPECT_FALSE(client_->resetKey());
  EXPECT_TRUE(status().value.has_value());
  EXPECT_EQ(reader_->readCount(), 2u);
}

TEST_F(TokenTest, FromTheEleventhResetOnEachIsLoggedWithTag2) {
  // Each round the service's token changes, the request gets 401, and the
  // next one reads the new token (directly, so no prompt is counted).
  for (int round = 1; round <= 12; ++round) {
    const std::string token = "token-" + std::to_string(round);
    reader_->script(FakePrivilegedReader::direct(token));
    service_.setZeroTierToken(token);
    const Answer<NodeStatus> answer = status();
    if (round > 1) {
      // The first request of a round is refused; the next one resets.
      ASSERT_TRUE(answer.error.has_value()) << round;
      ASSERT_TRUE(status().value.has_value()) << round;
    } else {
      ASSERT_TRUE(answer.value.has_value());
    }
    EXPECT_EQ(client_->failureCount(), round - 1);
    EXPECT_EQ(logCount(ServiceCom::kTokenErrorTag), round - 1 >= 11 ? round - 11 : 0) << round;
  }
  const auto entries = zeroTierLog();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back(), std::make_pair(std::string("Error obtaining Auth Token"), 2));
}

struct RefusalCase {
  const char* name;
  PrivilegedReadResult result;
  const char* errorText;
  bool paused;  // a prompt that gave nothing is not repeated for a minute
  bool logged;  // "Reading authtoken failed!" and the status text on the console
};

class RefusalTest : public TokenTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, AFailedReadIsAnErrorAndNoRequestIsSent) {
  const RefusalCase& c = GetParam();
  reader_->script(c.result);
  const Answer<NodeStatus> answer = status();
  ASSERT_TRUE(answer.error.has_value());
  EXPECT_EQ(answer.error->domain(), "com.zerotier.one");
  EXPECT_EQ(answer.error->code(), -1);
  EXPECT_EQ(answer.error->description(), c.errorText);
  EXPECT_TRUE(answer.error->isTokenFailure());
  EXPECT_EQ(requestsTo("/status"), 0u);
  if (c.logged) {
    EXPECT_EQ(console_,
              (std::vector<std::string>{"Reading authtoken failed!", c.result.statusText}));
  } else {
    EXPECT_TRUE(console_.empty());
  }

  // Within the minute a paused prompt is not shown again; after it, it is.
  main_->advanceBy(std::chrono::seconds(59));
  reader_->setFallback(FakePrivilegedReader::prompted(kServiceToken));
  const Answer<NodeStatus> soon = status();
  EXPECT_EQ(reader_->readCount(), c.paused ? 1u : 2u);
  if (c.paused) {
    ASSERT_TRUE(soon.error.has_value());
    EXPECT_EQ(soon.error->description(), c.errorText);
    main_->advanceBy(std::chrono::seconds(1));
    EXPECT_TRUE(status().value.has_value());
    EXPECT_EQ(reader_->readCount(), 2u);
  } else {
    EXPECT_TRUE(soon.value.has_value());
  }
  EXPECT_EQ(requestsTo("/status"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RefusalTest,
    ::testing::Values(RefusalCase{"spawn", FakePrivilegedReader::refused(Outcome::notStarted),
                                  "Couldn't create AuthorizationRef", false, true},
                      RefusalCase{"dismissed", FakePrivilegedReader::refused(Outcome::canceled),
                                  "Couldn't copy authorization rights", true, true},
                      RefusalCase{"refused", FakePrivilegedReader::refused(Outcome::denied),
                                  "Couldn't copy authorization rights", true, true},
                      RefusalCase{"readFailed", FakePrivilegedReader::refused(Outcome::failed),
                                  "Unknown error finding authorization key", true, true},
                      RefusalCase{"empty", FakePrivilegedReader::prompted(""),
                                  "Unknown error finding authorization key", true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TokenTest, RetryAuthorizationPromptsAgainAtOnce) {
  reader_->script(FakePrivilegedReader::refused(Outcome::denied));
  ASSERT_TRUE(status().error.has_value());
  client_->retryAuthorization();
  reader_->script(FakePrivilegedReader::prompted(kServiceToken));
  EXPECT_TRUE(status().value.has_value());
  EXPECT_EQ(reader_->readCount(), 2u);
}

TEST_F(TokenTest, AfterThreePromptsEveryRequestIsRefusedUntilARetry) {
  exhaustPrompts();
  const size_t sent = service_.requests().size();

  Answer<NodeStatus> status;
  Answer<std::vector<Network>> list;
  ErrorAnswer join, leave;
  const std::optional<ServiceComError> refusals[] = {
      client_->getNodeStatus(status.completion()), client_->getNetworklist(list.completion()),
      client_->joinNetwork(kNetworkId, true, false, false, false, join.completion()),
      client_->leaveNetwork(kNetworkId, leave.completion())};
  for (const auto& refused : refusals) {
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->kind(), ServiceComError::Kind::tooManyPrompts);
    EXPECT_EQ(refused->description(), "授权请求次数过多，请稍后重试");
  }
  main_->runUntilIdle();
  EXPECT_EQ(status.calls + list.calls + join.calls + leave.calls, 0);
  EXPECT_EQ(service_.requests().size(), sent);

  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  EXPECT_EQ(client_->getNodeStatus(nullptr)->description(),
            "Too many authorization requests, please try again later");

  client_->retryAuthorization();
  EXPECT_EQ(client_->permissionPopUpCount(), 0);
  EXPECT_TRUE(this->status().value.has_value());
}

TEST_F(TokenTest, AJoinThatSucceedsAfterTheThirdPromptResetsTheCount) {
  for (int prompt = 1; prompt <= 2; ++prompt) {
    const std::string token = "token-" + std::to_string(prompt);
    service_.setZeroTierToken(token);
    reader_->script(FakePrivilegedReader::prompted(token));
    if (prompt > 1) {
      ASSERT_EQ(status().error->statusCode(), 401);
    }
    ASSERT_TRUE(status().value.has_value());
  }
  service_.setZeroTierToken("token-3");
  ASSERT_EQ(status().error->statusCode(), 401);
  // The join waits for the third prompt, which reaches the limit; its 200
  // lifts it.
  reader_->script(FakePrivilegedReader::prompted("token-3"));
  ErrorAnswer join;
  ASSERT_FALSE(client_->joinNetwork(kNetworkId, true, false, false, false, join.completion()));
  ASSERT_TRUE(runUntil([&] { return join.done(); }));
  EXPECT_FALSE(join.error.has_value());
  EXPECT_EQ(client_->permissionPopUpCount(), 0);
  EXPECT_TRUE(status().value.has_value());
}

TEST_F(TokenTest, TheMainQueueRunsOnWhileAPromptWaitsAndEveryoneWaitsForTheOnePrompt) {
  reader_->hold();
  Answer<NodeStatus> first, second;
  std::string keyed;
  ASSERT_FALSE(client_->getNodeStatus(first.completion()));
  ASSERT_FALSE(client_->getNodeStatus(second.completion()));
  client_->key([&](std::string token, std::optional<ServiceComError>) { keyed = token; });
  ASSERT_TRUE(reader_->waitForReads(1));

  // The main queue is free: other work runs, and time passes.
  bool ran = false;
  main_->post([&] { ran = true; });
  main_->advanceBy(std::chrono::seconds(30));
  EXPECT_TRUE(ran);
  EXPECT_FALSE(first.done() || second.done());
  EXPECT_EQ(requestsTo("/status"), 0u);

  reader_->script(FakePrivilegedReader::prompted(kServiceToken));
  reader_->release();
  ASSERT_TRUE(runUntil([&] { return first.done() && second.done() && !keyed.empty(); }));
  EXPECT_TRUE(first.value.has_value());
  EXPECT_TRUE(second.value.has_value());
  EXPECT_EQ(keyed, kServiceToken);
  EXPECT_EQ(reader_->readCount(), 1u);
  EXPECT_EQ(client_->permissionPopUpCount(), 1);
}

TEST_F(TokenTest, AnUnreadableCopyIsAnErrorAndNoPrompt) {
  std::filesystem::create_directories(userCopy());  // a folder where the file should be
  const Answer<NodeStatus> answer = status();
  ASSERT_TRUE(answer.error.has_value());
  EXPECT_EQ(answer.error->kind(), ServiceComError::Kind::file);
  EXPECT_EQ(reader_->readCount(), 0u);
  EXPECT_EQ(requestsTo("/status"), 0u);
}

}  // namespace
}  // namespace vistrelle::cloud::zerotier
