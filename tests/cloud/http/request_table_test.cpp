// The address table, the public paths, the header rules and the URL helpers:
// pure functions, checked against tables.

#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include "base/helpers/base64_addition.h"
#include "cloud/http/download_destination.h"
#include "cloud/http/orvex_request_url.h"
#include "cloud/http/reachability.h"
#include "cloud/http/request_headers.h"
#include "cloud/http/url_encoding.h"

namespace vistrelle::cloud {
namespace {

const ServiceConfig kConfig{"https://overseas.example", "https://domestic.example", "abcde:fghij"};

TEST(OrvexRequestUrlTest, FourteenEntriesInOrder) {
  const std::vector<std::string> expected = {
      "https://overseas.example",
      "https://domestic.example",
      "https://overseas.example/api",
      "https://domestic.example/api",
      "/api/admin/mobile/",
      "/api/admin/mail/",
      "/api/auth/oauth2/token",
      "/api/admin/user/orvex/info",
      "/api/auth/token/logout",
      "/api/admin/ztNetwork",
      "/api/admin/ztNetwork/authorize",
      "/api/admin/ztNetwork/delete",
      "/api/admin/appPublish/latest",
      "/api/admin/pc",
  };
  ASSERT_EQ(kAllOrvexRequestUrls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(static_cast<size_t>(kAllOrvexRequestUrls[i]), i);
    EXPECT_EQ(rawValue(kAllOrvexRequestUrls[i], kConfig), expected[i]);
  }
}

TEST(RequestHeadersTest, PublicPathsNeedNoSession) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"/api/admin/mobile/13800000000", false},
      {"/api/admin/mail/a@b.example", false},
      {"/api/auth/oauth2/token", false},
      {"/api/admin/appPublish/latest", false},
      {"/user/dologin", false},
      {"/user/sendloginSms", false},
      {"/api/admin/user/orvex/info", true},
      {"/api/auth/token/logout", true},
      {"/api/admin/ztNetwork", true},
      {"/api/admin/pc", true},
      {"/api/admin/mobile", true},  // without the trailing slash: no match
      {"", true},
      // A public fragment anywhere counts, also in a query.
      {"https://elsewhere.example/x?next=/api/admin/mail/", false},
  };
  for (const auto& [url, required] : cases) EXPECT_EQ(isTokenRequired(url), required) << url;
}

TEST(RequestHeadersTest, RulesInOrderFirstMatchWins) {
  const std::string basic = "Basic " + base::base64String(std::string_view("abcde:fghij"));
  ASSERT_EQ(basic, "Basic YWJjZGU6ZmdoaWo=");
  const HttpHeaders form = {{"Content-Type", "application/x-www-form-urlencoded"}};
  struct Case {
    std::string url;
    HttpHeaders expected;
  };
  const std::vector<Case> cases = {
      {"/api/auth/oauth2/token",
       {{"Content-Type", "application/x-www-form-urlencoded"}, {"Authorization", basic}}},
      {"/api/admin/ztNetwork",
       {{"Content-Type", "application/json"}, {"Authorization", "Bearer tok"}}},
      {"/api/admin/ztNetwork/authorize",
       {{"Content-Type", "application/json"}, {"Authorization", "Bearer tok"}}},
      {"/api/admin/ztNetwork/delete",
       {{"Content-Type", "application/json"}, {"Authorization", "Bearer tok"}}},
      {"/api/admin/pc", {{"Content-Type", "application/json"}, {"Authorization", "Bearer tok"}}},
      {"/api/auth/token/logout",
       {{"Content-Type", "application/x-www-form-urlencoded"}, {"Authorization", "Bearer tok"}}},
      {"/api/admin/user/orvex/info", {{"Authorization", "Bearer tok"}}},
      {"/api/admin/appPublish/latest", {}},
      {"/api/admin/mobile/13800000000", {}},
      // Rule 1 comes first even when a later fragment is present too.
      {"/api/auth/oauth2/token?from=/api/admin/pc",
       {{"Content-Type", "application/x-www-form-urlencoded"}, {"Authorization", basic}}},
  };
  for (const Case& c : cases) EXPECT_EQ(headers(c.url, "tok", "abcde:fghij"), c.expected) << c.url;
}

TEST(RequestHeadersTest, SignedOutBearerIsEmptyAndUploadsCarryTheirOwnPair) {
  EXPECT_EQ(headers("/api/admin/user/orvex/info", "", "abcde:fghij"),
            (HttpHeaders{{"Authorization", "Bearer "}}));
  // The token path keeps Basic with a session; logout never gets Basic.
  EXPECT_EQ(*headerValue(headers("/api/auth/oauth2/token", "tok", "abcde:fghij"), "authorization"),
            "Basic YWJjZGU6ZmdoaWo=");
  EXPECT_EQ(*headerValue(headers("/api/auth/token/logout", "", "abcde:fghij"), "Authorization"),
            "Bearer ");
  EXPECT_EQ(uploadHeaders("nls"),
            (HttpHeaders{{"X-NLS-Token", "nls"}, {"Content-Type", "application/octet-stream"}}));
  EXPECT_EQ(kRequestTimeout, std::chrono::seconds(60));
}

TEST(UrlEncodingTest, AddressesUnderTheRegionRootOrUnchanged) {
  EXPECT_EQ(resolvedUrl("/api/admin/pc", "https://d.example"), "https://d.example/api/admin/pc");
  EXPECT_EQ(resolvedUrl("api/admin/pc", "https://d.example/"), "https://d.example/api/admin/pc");
  EXPECT_EQ(resolvedUrl("https://x.example/y?z=1", "https://d.example"), "https://x.example/y?z=1");
  EXPECT_EQ(resolvedUrl("http://x.example/y", "https://d.example"), "http://x.example/y");

  const std::vector<std::pair<std::string, bool>> under = {
      {"https://d.example", true},
      {"https://d.example/api", true},
      {"https://D.EXAMPLE/api?x", true},
      {"https://d.example.evil/api", false},
      {"https://d.example@evil.example/api", false},
      {"https://d.example:8443/api", false},
      {"http://d.example/api", false},
      {"https://evil.example/https://d.example/api", false},
  };
  for (const auto& [url, expected] : under) {
    EXPECT_EQ(isUnderRoot(url, "https://d.example"), expected) << url;
  }
  EXPECT_TRUE(isUnderRoot("http://127.0.0.1:8080/x", "http://127.0.0.1:8080"));
  EXPECT_FALSE(isUnderRoot("http://127.0.0.1:80801/x", "http://127.0.0.1:8080"));
}

TEST(UrlEncodingTest, QueriesPathSegmentsAndLogText) {
  const nlohmann::json parameters = {
      {"b", "x y&z=1"}, {"a", 1}, {"isRelease", true}, {"list", {1, "2"}}, {"n", {{"k", "v"}}}};
  EXPECT_EQ(queryString(parameters),
            "a=1&b=x%20y%26z%3D1&isRelease=1&list%5B%5D=1&list%5B%5D=2&n%5Bk%5D=v");
  EXPECT_EQ(queryString(nlohmann::json::array({1})), "");
  EXPECT_EQ(queryString(nlohmann::json::object()), "");
  EXPECT_EQ(appendingQuery("https://h/p", "a=1"), "https://h/p?a=1");
  EXPECT_EQ(appendingQuery("https://h/p?x=2#f", "a=1"), "https://h/p?x=2&a=1#f");
  EXPECT_EQ(appendingQuery("https://h/p", ""), "https://h/p");

  EXPECT_EQ(percentEncodedPathSegment("a.b+c@d.example"), "a.b+c@d.example");
  EXPECT_EQ(percentEncodedPathSegment("../x/y?z#w %"), "..%2Fx%2Fy%3Fz%23w%20%25");
  EXPECT_EQ(percentEncodedPathSegment(".."), "%2E%2E");
  EXPECT_EQ(percentEncodedPathSegment("李"), "%E6%9D%8E");
  EXPECT_EQ(percentEncodedPathSegment(""), "");

  EXPECT_EQ(urlForLog("http://user:pw@127.0.0.1:9993/network/abc?auth=secret#f"),
            "http://127.0.0.1:9993/network/abc");
  EXPECT_EQ(urlPath("/api/admin/pc?token=1"), "/api/admin/pc");
  EXPECT_EQ(urlPath("/api/x?next=http://h/y"), "/api/x");
  EXPECT_EQ(urlPath("https://h"), "/");
}

TEST(DownloadDestinationTest, NameFromTheFinalUrlsLastSegment) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"https://h/p/Vistrelle_1.2.3_amd64.deb", "OrvexSpace_package.deb"},
      {"https://h/p/Vistrelle.AppImage?x=1.exe", "OrvexSpace_package.AppImage"},
      {"https://h/p/archive.tar.gz#frag", "OrvexSpace_package.gz"},
      {"https://h/p/noextension", "OrvexSpace_package.pkg"},
      {"https://h/p.deb/", "OrvexSpace_package.pkg"},
      {"https://h/p/x.abcdefghijk", "OrvexSpace_package.pkg"},  // 11 characters
      {"https://h/p/x.de-b", "OrvexSpace_package.pkg"},
      {"https://h/p/x.%2e%2e", "OrvexSpace_package.pkg"},
      {"https://h/p/x.", "OrvexSpace_package.pkg"},
      {"https://h", "OrvexSpace_package.pkg"},
  };
  for (const auto& [url, name] : cases) EXPECT_EQ(packageFileName(url), name) << url;
}

TEST(ReachabilityTest, AnInterfaceUpRunningAndNotLoopback) {
  EXPECT_EQ(rawValue(ReachabilityStatus::unknown), "unknown");
  EXPECT_EQ(rawValue(ReachabilityStatus::notReachable), "notReachable");
  EXPECT_EQ(rawValue(ReachabilityStatus::ethernetOrWiFi), "ethernetOrWiFi");
  EXPECT_EQ(rawValue(ReachabilityStatus::cellular), "cellular");

  char lo[] = "lo";
  char eth[] = "eth0";
  ifaddrs loopback{};
  loopback.ifa_name = lo;
  loopback.ifa_flags = IFF_UP | IFF_RUNNING | IFF_LOOPBACK;
  ifaddrs down{};
  down.ifa_name = eth;
  down.ifa_flags = IFF_UP;  // up, but no carrier
  loopback.ifa_next = &down;
  EXPECT_EQ(reachabilityStatusOf(&loopback), ReachabilityStatus::notReachable);
  EXPECT_EQ(reachabilityStatusOf(nullptr), ReachabilityStatus::notReachable);
  down.ifa_flags = IFF_UP | IFF_RUNNING;
  EXPECT_EQ(reachabilityStatusOf(&loopback), ReachabilityStatus::ethernetOrWiFi);

  const ReachabilityStatus now = currentReachabilityStatus();
  EXPECT_NE(now, ReachabilityStatus::cellular);
}

}  // namespace
}  // namespace vistrelle::cloud
