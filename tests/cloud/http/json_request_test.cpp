// JSON requests against the service stand-in: the login gate, the address,
// where the parameters go, the headers that arrive, and the reply handling.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "base/helpers/base64_addition.h"
#include "base/log/orvex_log.h"
#include "support/http_fixture.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;

class JsonRequestTest : public HttpFixture {};

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(JsonRequestTest, TheLoginGateDropsNonPublicPathsSilentlyWhileSignedOut) {
  Outcome gated;
  http_->GETWithJSON("/api/admin/user/orvex/info?code=424242", nullptr, true, gated.success(),
                     gated.failure());
  Outcome gatedDelete;
  http_->DELETEWithJSON("/api/auth/token/logout", nullptr, false, gatedDelete.success(),
                        gatedDelete.failure());
  Outcome open;
  http_->GETWithJSON("/api/admin/appPublish/latest", {{"platform", "linux"}}, true, open.success(),
                     open.failure());
  ASSERT_TRUE(runUntil([&] { return open.done(); }));
  EXPECT_EQ(open.successCalls, 1);
  EXPECT_FALSE(gated.done());
  EXPECT_FALSE(gatedDelete.done());
  const auto requests = service_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/api/admin/appPublish/latest");
  // The path is logged, never the query that may carry a code.
  const std::string log = readFile(OrvexLog::logFilePathWithLogName(LogName::Vistrelle));
  EXPECT_NE(
      log.find(std::string(OrvexAlamofireManager::kGateLogText) + "/api/admin/user/orvex/info"),
      std::string::npos)
      << log;
  EXPECT_EQ(log.find("424242"), std::string::npos) << log;

  // Signed in, the same request goes out with the session's token.
  signIn();
  Outcome allowed;
  http_->GETWithJSON("/api/admin/user/orvex/info", nullptr, true, allowed.success(),
                     allowed.failure());
  ASSERT_TRUE(runUntil([&] { return allowed.done(); }));
  ASSERT_EQ(allowed.successCalls, 1);
  EXPECT_TRUE(allowed.envelope->success);
  EXPECT_EQ(allowed.envelope->dataObject->at("userId"), 10001);
  EXPECT_EQ(service_.requestsTo("/api/admin/user/orvex/info").at(0).header("Authorization"),
            "Bearer " + session_->accessToken());
}

TEST_F(JsonRequestTest, RelativeTextsTakeTheRegionsRootAndFullUrlsGoAsGiven) {
  ServiceStandIn overseas;
  http_ = std::make_unique<OrvexAlamofireManager>([&] {
    auto o = options();
    o.config.overseasRoot = overseas.root();
    return o;
  }());
  ServiceStandIn elsewhere;
  for (const bool isOverseas : {false, true}) {
    MainState::shared().isOverseas = isOverseas;
    Outcome outcome;
    http_->GETWithJSON("/api/admin/appPublish/latest", nullptr, true, outcome.success(),
                       outcome.failure());
    ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
  }
  Outcome full;
  http_->GETWithJSON(elsewhere.root() + "/api/admin/appPublish/latest?x=1", nullptr, true,
                     full.success(), full.failure());
  ASSERT_TRUE(runUntil([&] { return full.done(); }));
  EXPECT_EQ(service_.requests().size(), 1u);
  EXPECT_EQ(overseas.requests().size(), 1u);
  ASSERT_EQ(elsewhere.requests().size(), 1u);
  EXPECT_EQ(elsewhere.requests()[0].query, "x=1");
}

TEST_F(JsonRequestTest, ParametersGoInTheQueryOrTheBodyByMethodAndIsQuery) {
  signIn();
  for (const char* method : {"GET", "POST", "DELETE"}) {
    service_.script(method, "/echo", Reply::json(200, {{"success", true}}));
  }
  const nlohmann::json parameters = {{"b", "x y"}, {"a", 1}};
  struct Case {
    std::function<void(Outcome&)> send;
    std::string method;
    std::string query;
    std::string body;
    std::optional<std::string> contentType;
  };
  const std::vector<Case> cases = {
      {[&](Outcome& o) {
         http_->GETWithJSON("/echo", parameters, false, o.success(), o.failure());
       },
       "GET", "a=1&b=x%20y", "", std::nullopt},
      {[&](Outcome& o) { http_->GETWithJSON("/echo", parameters, true, o.success(), o.failure()); },
       "GET", "a=1&b=x%20y", "", std::nullopt},
      // A POST with isQuery true sends no body at all.
      {[&](Outcome& o) {
         http_->POSTWithJSON("/echo", parameters, true, o.success(), o.failure());
       },
       "POST", "a=1&b=x%20y", "", std::nullopt},
      {[&](Outcome& o) {
         http_->POSTWithJSON("/echo", parameters, false, o.success(), o.failure());
       },
       "POST", "", R"({"a":1,"b":"x y"})", "application/json"},
      {[&](Outcome& o) {
         http_->DELETEWithJSON("/echo", parameters, true, o.success(), o.failure());
       },
       "DELETE", "a=1&b=x%20y", "", std::nullopt},
      {[&](Outcome& o) {
         http_->DELETEWithJSON("/echo", parameters, false, o.success(), o.failure());
       },
       "DELETE", "", R"({"a":1,"b":"x y"})", "application/json"},
      // Nothing, or anything but a dictionary, is an empty dictionary.
      {[&](Outcome& o) {
         http_->POSTWithJSON("/echo", nlohmann::json::array({1}), false, o.success(), o.failure());
       },
       "POST", "", "{}", "application/json"},
      // The routine placed by method: a form body for POST, the query for DELETE.
      {[&](Outcome& o) {
         http_->requestWithQueryParameters("/echo", HttpMethod::POST, parameters, false,
                                           o.success(), o.failure());
       },
       "POST", "", "a=1&b=x%20y", "application/x-www-form-urlencoded; charset=utf-8"},
      {[&](Outcome& o) {
         http_->requestWithQueryParameters("/echo", HttpMethod::DELETE, parameters, false,
                                           o.success(), o.failure());
       },
       "DELETE", "a=1&b=x%20y", "", std::nullopt},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    Outcome outcome;
    cases[i].send(outcome);
    ASSERT_TRUE(runUntil([&] { return outcome.done(); })) << i;
    EXPECT_EQ(outcome.successCalls, 1) << i;
    const ServiceStandIn::Request request = service_.requests().back();
    EXPECT_EQ(request.method, cases[i].method) << i;
    EXPECT_EQ(request.query, cases[i].query) << i;
    EXPECT_EQ(request.body, cases[i].body) << i;
    EXPECT_EQ(request.header("Content-Type"), cases[i].contentType) << i;
  }
}

TEST_F(JsonRequestTest, TheTokenRequestCarriesBasicCredentialsAndGetsItsBareTokenReply) {
  Outcome outcome;
  http_->POSTWithJSON("/api/auth/oauth2/token",
                      {{"mobile", "13800000000"},
                       {"code", ServiceStandIn::kVerificationCode},
                       {"grant_type", "mobile"},
                       {"scope", "server"}},
                      true, outcome.success(), outcome.failure());
  ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
  ASSERT_EQ(outcome.successCalls, 1);
  EXPECT_TRUE(outcome.envelope->success);
  EXPECT_EQ(outcome.envelope->msg, "");
  EXPECT_FALSE(outcome.envelope->reply.at("access_token").get<std::string>().empty());
  const auto request = service_.requestsTo("/api/auth/oauth2/token").at(0);
  EXPECT_EQ(request.header("Authorization"),
            "Basic " + base::base64String(ServiceStandIn::kClientCredential));
  EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.queryValue("grant_type"), "mobile");
  EXPECT_EQ(request.body, "");
}

TEST_F(JsonRequestTest, ReplyTable) {
  signIn();
  const std::string tokenPath = "/api/auth/oauth2/token";
  struct Case {
    std::string name;
    std::string path;
    Reply reply;
    bool withSuccessBlock;
    // Success block expected: its flag and msg; else the failure's code and reason.
    std::optional<bool> flag;
    std::string msg;
    long errorCode = 0;
    std::string errorText;
  };
  const std::vector<Case> cases = {
      {"false with msg", "/t", Reply::json(200, {{"success", false}, {"msg", "余额不足"}}), true,
       false, "余额不足", 0, ""},
      {"token reply", tokenPath, Reply::json(200, {{"access_token", "a"}, {"refresh_token", "r"}}),
       true, true, "", 0, ""},
      {"token reply without a token", tokenPath, Reply::json(200, {{"token_type", "bearer"}}), true,
       false, "", 0, ""},
      {"empty token", tokenPath, Reply::json(200, {{"access_token", ""}}), true, false, "", 0, ""},
      {"OAuth2 error", tokenPath,
       Reply::json(400, {{"error", "invalid_grant"}, {"error_description", "Bad credentials"}}),
       true, false, "", 0, ""},
      {"token reply elsewhere", "/t", Reply::json(200, {{"access_token", "a"}}), true, false, "", 0,
       ""},
      {"token path envelope", tokenPath,
       Reply::json(401, {{"success", false}, {"msg", "请求令牌已过期"}}), true, false,
       "请求令牌已过期", 0, ""},
      {"text", "/t", Reply::text(200, "plain text"), true, std::nullopt, "",
       HttpError::kCannotParseResponseCode, "plain text"},
      {"array", "/t", Reply::text(200, "[1,2]", "application/json"), true, std::nullopt, "",
       HttpError::kCannotParseResponseCode, "[1,2]"},
      {"not UTF-8", "/t", Reply::text(200, "\xff\xfe"), true, std::nullopt, "",
       HttpError::kCannotParseResponseCode, ""},
      {"500 with an envelope", "/t", Reply::json(500, {{"success", false}, {"msg", "服务器错误"}}),
       true, false, "服务器错误", 0, ""},
      {"500 without a body", "/t", Reply::text(500, ""), true, std::nullopt, "",
       HttpError::kStatusCode, ""},
      {"no success block", "/t", Reply::json(200, {{"success", true}}), false, std::nullopt, "",
       HttpError::kNetworkCode, std::string(HttpError::kNoSuccessBlockText)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_.scriptOnce("POST", c.path, c.reply);
    Outcome outcome;
    http_->POSTWithJSON(c.path, nullptr, true, c.withSuccessBlock ? outcome.success() : nullptr,
                        outcome.failure());
    ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
    main_->runUntilIdle();
    EXPECT_EQ(outcome.successCalls + outcome.failureCalls, 1);
    if (c.flag) {
      ASSERT_EQ(outcome.successCalls, 1);
      EXPECT_EQ(outcome.envelope->success, *c.flag);
      EXPECT_EQ(outcome.envelope->msg, c.msg);
    } else {
      ASSERT_EQ(outcome.failureCalls, 1);
      EXPECT_EQ(outcome.error->code(), c.errorCode);
      if (c.errorCode == HttpError::kCannotParseResponseCode) {
        EXPECT_EQ(outcome.error->domain(), HttpError::kParseDomain);
        EXPECT_EQ(outcome.error->description(), "无法解析响应");
        EXPECT_EQ(outcome.error->failureReason(), c.errorText);
      } else if (c.errorCode == HttpError::kStatusCode) {
        EXPECT_EQ(outcome.error->statusCode(), 500);
      } else {
        EXPECT_EQ(outcome.error->reason(), c.errorText);
      }
    }
  }
}

TEST_F(JsonRequestTest, DataArrivesByItsType) {
  const std::vector<std::pair<nlohmann::json, int>> cases = {
      {{{"k", 1}}, 0}, {nlohmann::json::array({1, 2}), 1}, {"text", 2}, {42, 3}, {nullptr, 3}};
  for (const auto& [data, shape] : cases) {
    service_.scriptOnce("GET", "/api/admin/appPublish/latest",
                        Reply::json(200, {{"success", true}, {"msg", 7}, {"data", data}}));
    Outcome outcome;
    http_->GETWithJSON("/api/admin/appPublish/latest", nullptr, true, outcome.success(),
                       outcome.failure());
    ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
    ASSERT_EQ(outcome.successCalls, 1);
    const ReplyEnvelope& e = *outcome.envelope;
    EXPECT_EQ(e.msg, "");  // not text
    EXPECT_EQ(e.dataObject.has_value(), shape == 0) << data;
    EXPECT_EQ(e.dataArray.has_value(), shape == 1) << data;
    EXPECT_EQ(e.dataText.has_value(), shape == 2) << data;
    EXPECT_EQ(e.reply.at("data"), data);
  }
}

TEST_F(JsonRequestTest, RefusedAndTimedOutRequestsReachTheFailureBlock) {
  std::string closedRoot;
  {
    ServiceStandIn closed;
    closedRoot = closed.root();
  }
  Outcome refused;
  http_->GETWithJSON(closedRoot + "/api/admin/appPublish/latest", nullptr, true, refused.success(),
                     refused.failure());
  ASSERT_TRUE(runUntil([&] { return refused.done(); }));
  ASSERT_EQ(refused.failureCalls, 1);
  EXPECT_EQ(refused.error->kind(), HttpError::Kind::transport);
  EXPECT_EQ(refused.error->curlCode(), CURLE_COULDNT_CONNECT);

  http_ = std::make_unique<OrvexAlamofireManager>([&] {
    auto o = options();
    o.requestTimeout = std::chrono::milliseconds(300);
    return o;
  }());
  Reply slow = Reply::json(200, {{"success", true}});
  slow.delay = std::chrono::seconds(30);
  service_.script("GET", "/api/admin/appPublish/latest", slow);
  Outcome late;
  http_->GETWithJSON("/api/admin/appPublish/latest", nullptr, true, late.success(), late.failure());
  ASSERT_TRUE(runUntil([&] { return late.done(); }));
  ASSERT_EQ(late.failureCalls, 1);
  EXPECT_EQ(late.error->curlCode(), CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(late.successCalls, 0);
}

TEST_F(JsonRequestTest, OversizedRepliesAndHeaderBreakingTokensFailInsteadOfGoingThrough) {
  http_ = std::make_unique<OrvexAlamofireManager>([&] {
    auto o = options();
    o.maxReplyBytes = 1000;
    return o;
  }());
  service_.script("GET", "/api/admin/appPublish/latest",
                  Reply::json(200, {{"success", true}, {"data", std::string(5000, 'x')}}));
  Outcome large;
  http_->GETWithJSON("/api/admin/appPublish/latest", nullptr, true, large.success(),
                     large.failure());
  ASSERT_TRUE(runUntil([&] { return large.done(); }));
  ASSERT_EQ(large.failureCalls, 1);
  EXPECT_EQ(large.error->curlCode(), CURLE_FILESIZE_EXCEEDED);

  // A token from a reply must not smuggle a header into the request.
  session_->signIn("token\r\nX-Injected: 1", "refresh");
  Outcome injected;
  http_->GETWithJSON("/api/admin/user/orvex/info", nullptr, true, injected.success(),
                     injected.failure());
  ASSERT_TRUE(runUntil([&] { return injected.done(); }));
  ASSERT_EQ(injected.failureCalls, 1);
  EXPECT_EQ(injected.error->kind(), HttpError::Kind::transport);
  EXPECT_TRUE(service_.requestsTo("/api/admin/user/orvex/info").empty());
}

TEST_F(JsonRequestTest, CredentialsStayWithTheServiceAcrossRedirectsAndForeignUrls) {
  signIn();
  ServiceStandIn other;
  other.script("GET", "/landing", Reply::json(200, {{"success", true}}));
  other.script("POST", "/api/admin/ztNetwork", Reply::json(200, {{"success", true}}));
  other.script("POST", "/api/auth/oauth2/token", Reply::json(200, {{"access_token", "x"}}));
  service_.script("POST", "/api/admin/ztNetwork", Reply::redirect(other.root() + "/landing", 302));
  const std::vector<std::string> urls = {
      "/api/admin/ztNetwork",                   // redirected to another port
      other.root() + "/api/admin/ztNetwork",    // a foreign URL with a Bearer fragment
      other.root() + "/api/auth/oauth2/token",  // a foreign URL with the Basic fragment
  };
  for (const std::string& url : urls) {
    Outcome outcome;
    http_->POSTWithJSON(url, {{"localNetwork", "10.0.0.2"}}, true, outcome.success(),
                        outcome.failure());
    ASSERT_TRUE(runUntil([&] { return outcome.done(); })) << url;
    EXPECT_EQ(outcome.successCalls, 1) << url;
  }
  ASSERT_EQ(service_.requests().size(), 1u);
  EXPECT_EQ(service_.requests()[0].header("Authorization"), "Bearer " + session_->accessToken());
  const auto arrived = other.requests();
  ASSERT_EQ(arrived.size(), 3u);
  for (const auto& request : arrived) {
    EXPECT_FALSE(request.header("Authorization").has_value()) << request.path;
  }
  // The content type of the rule still applies.
  EXPECT_EQ(arrived[1].header("Content-Type"), "application/json");
}

TEST_F(JsonRequestTest, BlocksRunOnTheMainQueueWhicheverThreadStartedTheRequest) {
  Outcome outcome;
  std::thread::id ranOn;
  std::thread caller([&] {
    http_->GETWithJSON(
        "/api/admin/appPublish/latest", nullptr, true,
        [&](const ReplyEnvelope& e) {
          ranOn = std::this_thread::get_id();
          outcome.success()(e);
        },
        outcome.failure());
  });
  caller.join();
  ASSERT_TRUE(runUntil([&] { return outcome.done(); }));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace vistrelle::cloud
