// Request groups, cancelling, the layer's stop, raw requests and uploads.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include "support/http_fixture.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;

class GroupsTest : public HttpFixture {
 protected:
  void SetUp() override {
    HttpFixture::SetUp();
    Reply slow = Reply::json(200, {{"success", true}});
    slow.delay = std::chrono::milliseconds(300);
    service_.script("GET", "/slow", slow);
    signIn();
  }
};

TEST_F(GroupsTest, CancellingOneGroupLeavesTheOthersToComplete) {
  const RequestGroup account("account");
  Outcome a1, a2, general;
  http_->GETWithJSON("/slow", nullptr, true, a1.success(), a1.failure(), account);
  http_->POSTWithJSON("/api/auth/oauth2/token", {{"grant_type", "refresh_token"}}, true,
                      a2.success(), a2.failure(), account);
  http_->GETWithJSON("/slow", nullptr, true, general.success(), general.failure());
  bool downloaded = false;
  http_->downloadRequest(
      service_.root() + "/api/admin/appPublish/download/Vistrelle_9.9.9_amd64.deb", nullptr,
      [&](std::optional<std::string> path, std::optional<HttpError>) {
        downloaded = path.has_value();
      });
  http_->cancelGroup(account);
  ASSERT_TRUE(runUntil([&] { return a1.done() && a2.done() && general.done() && downloaded; }));
  main_->runUntilIdle();
  for (const Outcome* cancelled : {&a1, &a2}) {
    EXPECT_EQ(cancelled->successCalls, 0);
    ASSERT_EQ(cancelled->failureCalls, 1);
    EXPECT_TRUE(cancelled->error->isCancelled());
    EXPECT_EQ(cancelled->error->code(), HttpError::kCancelledCode);
    EXPECT_EQ(cancelled->error->domain(), HttpError::kDomain);
  }
  EXPECT_EQ(general.successCalls, 1);
  EXPECT_EQ(general.failureCalls, 0);
}

TEST_F(GroupsTest, AReplyAlreadyPostedWhenItsGroupIsCancelledCallsNoSuccessBlock) {
  const RequestGroup account("account");
  Outcome outcome;
  const uint64_t posts = main_->postCount();
  // Started on the main queue, so nothing is posted until the reply.
  http_->GETWithJSON("/api/admin/user/orvex/info", nullptr, true, outcome.success(),
                     outcome.failure(), account);
  ASSERT_TRUE(main_->waitForPost(posts));
  EXPECT_FALSE(outcome.done());
  http_->cancelGroup(account);
  main_->runUntilIdle();
  EXPECT_EQ(outcome.successCalls, 0);
  ASSERT_EQ(outcome.failureCalls, 1);
  EXPECT_TRUE(outcome.error->isCancelled());
  // Its own handle cancels just the same, and a handle of an ended request
  // does nothing.
  Outcome single;
  const RequestHandle handle =
      http_->GETWithJSON("/slow", nullptr, true, single.success(), single.failure());
  handle.cancel();
  ASSERT_TRUE(runUntil([&] { return single.done(); }));
  EXPECT_TRUE(single.error->isCancelled());
  handle.cancel();
  main_->runUntilIdle();
  EXPECT_EQ(single.failureCalls, 1);
}

TEST_F(GroupsTest, TheRuntimesStopEndsTransfersInFlightWithoutAnyBlock) {
  dispatch::StopRegistration registration =
      runtime_.registerStop("http", [this] { http_->stop(); });
  Reply held = Reply::json(200, {{"success", true}});
  held.delay = std::chrono::seconds(30);
  service_.script("GET", "/held", held);
  Outcome inFlight;
  bool downloadCompleted = false;
  http_->GETWithJSON("/held", nullptr, true, inFlight.success(), inFlight.failure());
  http_->downloadRequest(
      service_.root() + "/held", nullptr,
      [&](std::optional<std::string>, std::optional<HttpError>) { downloadCompleted = true; });
  ASSERT_TRUE(service_.waitForRequests(service_.requests().size() + 2));
  EXPECT_TRUE(http_->workerRunning());

  runtime_.stop();
  EXPECT_FALSE(http_->workerRunning());
  main_->runUntilIdle();
  Outcome after;
  http_->GETWithJSON("/api/admin/appPublish/latest", nullptr, true, after.success(),
                     after.failure());
  main_->runUntilIdle();
  EXPECT_FALSE(inFlight.done());
  EXPECT_FALSE(downloadCompleted);
  EXPECT_FALSE(after.done());
  EXPECT_FALSE(std::filesystem::exists(downloads() + "/OrvexSpace_package.pkg.part"));
}

// Proxies named by the environment would catch every request but the raw
// ones.  Set before any thread of the test exists.
class ProxiedEnvironment {
 public:
  ProxiedEnvironment() {
    ::setenv("http_proxy", "http://127.0.0.1:9", 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
  }
  ~ProxiedEnvironment() {
    ::unsetenv("http_proxy");
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
  }
};

class RawRequestTest : public ::testing::Test {
 protected:
  ProxiedEnvironment proxied_;
  TemporaryHome home_;
  std::shared_ptr<testing::SignallingMainQueue> main_ =
      std::make_shared<testing::SignallingMainQueue>();
  dispatch::Runtime runtime_{main_, dispatch::Runtime::Options{2}};
  ServiceStandIn service_;
  OrvexAlamofireManager http_{[this] {
    OrvexAlamofireManager::Options o;
    o.config = {service_.root(), service_.root(), "a:b"};
    o.mainQueue = main_;
    return o;
  }()};
};

TEST_F(RawRequestTest, SentAsGivenWithoutProxyOrSessionHeaders) {
  service_.script("POST", "/network/8056c2e21c000001",
                  Reply::text(200, R"({"id":"8056c2e21c000001"})", "application/json"));
  std::optional<RawResponse> response;
  std::optional<HttpError> error;
  bool done = false;
  RawRequest request;
  request.method = HttpMethod::POST;
  request.url = service_.root() + "/network/8056c2e21c000001?auth=secret";
  request.headers = {{"Content-Type", "application/json"}};
  request.body = R"({"allowManaged":true})";
  request.timeout = std::chrono::seconds(5);
  http_.rawRequest(request, [&](std::optional<RawResponse> r, std::optional<HttpError> e) {
    response = std::move(r);
    error = std::move(e);
    done = true;
  });
  ASSERT_TRUE(main_->runUntil([&] { return done; }));
  ASSERT_TRUE(response.has_value()) << error->text();
  EXPECT_FALSE(error.has_value());
  EXPECT_EQ(response->status, 200);
  EXPECT_EQ(response->body, R"({"id":"8056c2e21c000001"})");
  const auto arrived = service_.requests().at(0);
  EXPECT_EQ(arrived.query, "auth=secret");
  EXPECT_EQ(arrived.body, R"({"allowManaged":true})");
  EXPECT_EQ(arrived.header("Content-Type"), "application/json");
  EXPECT_FALSE(arrived.header("Authorization").has_value());

  // A status is a reply, not an error; a closed port is a transport error.
  service_.script("GET", "/quit", Reply::text(401, ""));
  done = false;
  http_.rawRequest({HttpMethod::GET, service_.root() + "/quit", {}, std::nullopt, {}, {}},
                   [&](std::optional<RawResponse> r, std::optional<HttpError> e) {
                     response = std::move(r);
                     error = std::move(e);
                     done = true;
                   });
  ASSERT_TRUE(main_->runUntil([&] { return done; }));
  ASSERT_TRUE(response.has_value());
  EXPECT_EQ(response->status, 401);

  const std::string root = service_.root();
  service_.stop();
  done = false;
  http_.rawRequest({HttpMethod::GET, root + "/status", {}, std::nullopt, {}, {}},
                   [&](std::optional<RawResponse> r, std::optional<HttpError> e) {
                     response = std::move(r);
                     error = std::move(e);
                     done = true;
                   });
  ASSERT_TRUE(main_->runUntil([&] { return done; }));
  EXPECT_FALSE(response.has_value());
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->curlCode(), CURLE_COULDNT_CONNECT);
}

TEST_F(RawRequestTest, TheEnvironmentsProxyStillCatchesServiceRequests) {
  Outcome outcome;
  http_.GETWithJSON("/api/admin/appPublish/latest", nullptr, true, outcome.success(),
                    outcome.failure());
  ASSERT_TRUE(main_->runUntil([&] { return outcome.done(); }));
  ASSERT_EQ(outcome.failureCalls, 1);
  EXPECT_EQ(outcome.error->kind(), HttpError::Kind::transport);
  EXPECT_TRUE(service_.requests().empty());
}

class UploadTest : public HttpFixture {};

TEST_F(UploadTest, RawBytesWithTheCallersTokenAndAJsonReply) {
  service_.script("POST", "/upload", Reply::json(200, {{"success", true}, {"data", "ok"}}));
  const std::string bytes(200000, '\x7f');
  std::vector<double> progress;
  std::optional<nlohmann::json> reply;
  std::optional<HttpError> error;
  bool done = false;
  auto completion = [&](std::optional<nlohmann::json> r, std::optional<HttpError> e) {
    reply = std::move(r);
    error = std::move(e);
    done = true;
  };
  http_->uploadFile(
      service_.root() + "/upload", bytes, "nls-token", [&](double f) { progress.push_back(f); },
      completion);
  ASSERT_TRUE(runUntil([&] { return done; }));
  ASSERT_TRUE(reply.has_value()) << error->text();
  EXPECT_EQ(reply->at("data"), "ok");
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), 1.0);
  const auto arrived = service_.requestsTo("/upload").at(0);
  EXPECT_EQ(arrived.body, bytes);
  EXPECT_EQ(arrived.header("X-NLS-Token"), "nls-token");
  EXPECT_EQ(arrived.header("Content-Type"), "application/octet-stream");

  service_.script("POST", "/upload", Reply::text(200, "stored"));
  done = false;
  http_->uploadFile(service_.root() + "/upload", "x", "t", nullptr, completion);
  ASSERT_TRUE(runUntil([&] { return done; }));
  EXPECT_FALSE(reply.has_value());
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->code(), HttpError::kCannotParseResponseCode);
}

}  // namespace
}  // namespace vistrelle::cloud
