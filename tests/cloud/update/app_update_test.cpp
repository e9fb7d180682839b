// The update check: when a sheet goes up, what the request carries, and the
// quiet ends.

#include <gtest/gtest.h>

#include "update_fixture.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;
using nlohmann::json;

class AppUpdateTest : public UpdateFixture {};

json release(json version) {
  json data = {{"downloadUrl", "/admin/appPublish/download/Vistrelle_amd64.deb"},
               {"releaseNote", "修复已知问题"}};
  if (!version.is_null()) data["version"] = std::move(version);
  return data;
}

TEST_F(AppUpdateTest, OffersOnlyABuildNewerThanThisOne) {
  const struct {
    const char* local;
    json server;  // null: no "version"
    bool offered;
  } cases[] = {
      {"1.2.9", "1.2.10", true},    // digit runs compare as numbers
      {"1.2.10", "1.2.10", false},  // equal
      {"1.3", "1.2.10", false},     // this build is newer
      {"1.2.9", "", false},         // empty server version
      {"1.2.9", nullptr, false},    // missing
      {"1.2.9", 2, false},          // not a text
      {"", "1.0.0.1", true},        // no local version: "1.0.0.0"...
      {"", "1.0.0.0", false},       // ...and nothing newer than it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.local) + " vs " + c.server.dump());
    service_.setLatestRelease(release(c.server));
    FakeUpdateHost host;
    UpdateServices s = services();
    s.localVersion = c.local;
    AppUpdate update(host, s);
    std::optional<bool> result;
    update.checkAppUpdate([&](bool nothingInTheWay) { result = nothingInTheWay; });
    ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, !c.offered);
    EXPECT_EQ(host.sheets.size(), c.offered ? 1u : 0u);
    EXPECT_EQ(update.appUpdateView() != nullptr, c.offered);
    if (c.offered) {
      EXPECT_TRUE(host.lastSheet()->isShown());
      EXPECT_EQ(host.lastSheet()->versionText, "V" + c.server.get<std::string>());
      EXPECT_FALSE(host.lastSheet()->hideInteractions());
    }
  }
}

TEST_F(AppUpdateTest, AwayFromTheHomeContentNothingIsAsked) {
  host_.showingHome = false;
  int calls = 0;
  bool result = false;
  update().checkAppUpdate([&](bool nothingInTheWay) {
    ++calls;
    result = nothingInTheWay;
  });
  EXPECT_EQ(calls, 1) << "at once";
  EXPECT_TRUE(result);
  main_->runUntilIdle();
  EXPECT_TRUE(service_.requests().empty());
  update().checkAppUpdate();  // no completion: nothing to call
  EXPECT_TRUE(service_.requests().empty());
}

TEST_F(AppUpdateTest, UnusableRepliesEndQuietly) {
  const struct {
    const char* name;
    Reply reply;
  } cases[] = {
      {"500 without a body", Reply::text(500, "")},
      {"not JSON", Reply::text(200, "<html>busy</html>", "text/html")},
      {"flag false", Reply::json(200, {{"success", false}, {"msg", "x"}, {"data", release("9")}})},
      {"no data", Reply::json(200, {{"success", true}, {"msg", "操作成功"}})},
      {"data null", Reply::json(200, {{"success", true}, {"data", nullptr}})},
      {"data an array",
       Reply::json(200, {{"success", true}, {"data", json::array({release("9")})}})},
      {"data a text", Reply::json(200, {{"success", true}, {"data", "9.9.9"}})},
      {"no download address",
       Reply::json(200,
                   {{"success", true}, {"data", {{"version", "9.9.9"}, {"releaseNote", "n"}}}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    service_.scriptOnce("GET", "/api/admin/appPublish/latest", c.reply);
    EXPECT_EQ(check(), std::optional<bool>(true));
  }
  service_.stop();
  EXPECT_EQ(check(), std::optional<bool>(true)) << "refused";
  EXPECT_TRUE(host_.sheets.empty());
  EXPECT_TRUE(logs_.empty()) << logs_.front();
}

TEST_F(AppUpdateTest, AsksForThisPlatformAndTakesTheAddressAsGiven) {
  // The region decides the base: overseas here, and the domestic root would
  // refuse the request.
  MainState::shared().isOverseas.store(true);
  OrvexAlamofireManager::Options o = options();
  o.config.domesticRoot = "http://127.0.0.1:1";
  http_ = std::make_unique<OrvexAlamofireManager>(o);
  json data = release("9.9.9");
  data["downloadUrl"] = "/admin/appPublish/download/V 9 (linux).deb?token=1";
  service_.setLatestRelease(data);

  offered();
  const auto asked = service_.requestsTo("/api/admin/appPublish/latest");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].method, "GET");
  EXPECT_EQ(asked[0].queryValue("appName"), "Vistrelle");
  EXPECT_EQ(asked[0].queryValue("platform"), "linux");
  // An integer 1, not a text or a Boolean.
  EXPECT_EQ(asked[0].queryValue("isRelease"), "1");
  EXPECT_TRUE(asked[0].body.empty());

  const std::string expected =
      service_.root() + "/api/admin/appPublish/download/V 9 (linux).deb?token=1";
  ASSERT_NE(update().appUpdateView(), nullptr);
  EXPECT_EQ(update().appUpdateView()->downloadUrl(), expected);
  EXPECT_EQ(logs_, std::vector<std::string>{"App Update Url = " + expected});
}

TEST_F(AppUpdateTest, ASecondCheckRefreshesTheOneSheet) {
  FakeUpdateSheet& sheet = offered();
  EXPECT_EQ(sheet.shows, 1);
  EXPECT_EQ(sheet.releaseNote, "修复已知问题");

  service_.setLatestRelease({{"version", "10.0.1"},
                             {"downloadUrl", "/admin/appPublish/download/Vistrelle_10.deb"},
                             {"releaseNote", ""}});
  EXPECT_EQ(check(), std::optional<bool>(false));
  EXPECT_EQ(host_.sheets.size(), 1u) << "no second sheet";
  EXPECT_EQ(sheet.shows, 1) << "not laid over the window again";
  // Empty notes refresh it too: version, notes and address all belong together.
  EXPECT_EQ(sheet.versionText, "V10.0.1");
  EXPECT_EQ(sheet.releaseNote, "");
  EXPECT_EQ(update().appUpdateView()->downloadUrl(),
            service_.root() + "/api/admin/appPublish/download/Vistrelle_10.deb");

  // Cancelled, the next check puts up a fresh one.
  sheet.clickCancel(CancelButton::offer);
  EXPECT_FALSE(sheet.isShown());
  EXPECT_EQ(update().appUpdateView(), nullptr);
  EXPECT_FALSE(sheet.hasActions()) << "the controller went with it";
  EXPECT_EQ(check(), std::optional<bool>(false));
  EXPECT_EQ(host_.sheets.size(), 2u);
}

TEST_F(AppUpdateTest, FalseOnlyWhileASheetIsShowing) {
  service_.setLatestRelease({{"version", "9.9.9"},
                             {"downloadUrl", "/admin/appPublish/download/Vistrelle.deb"},
                             {"releaseNote", ""}});
  // Empty notes: shown all the same (it would otherwise hold the glasses'
  // set-up back with nothing on screen).
  FakeUpdateSheet& sheet = offered();
  EXPECT_TRUE(sheet.isShown());
  EXPECT_EQ(sheet.versionText, "V9.9.9");
  update_.reset();

  // No sheet could be made, or it could not be shown: nothing in the way.
  host_.makesSheets = false;
  EXPECT_EQ(check(), std::optional<bool>(true));
  EXPECT_EQ(update().appUpdateView(), nullptr);
  host_.makesSheets = true;
  host_.sheetsRefuseToShow = true;
  EXPECT_EQ(check(), std::optional<bool>(true));
  EXPECT_EQ(update().appUpdateView(), nullptr);
  host_.sheetsRefuseToShow = false;

  // The window moved on to another content while the request ran.
  const size_t made = host_.sheets.size();
  std::optional<bool> result;
  update().checkAppUpdate([&](bool nothingInTheWay) { result = nothingInTheWay; });
  host_.showingHome = false;
  ASSERT_TRUE(runUntil([&] { return result.has_value(); }));
  EXPECT_TRUE(*result);
  EXPECT_EQ(host_.sheets.size(), made);
}

}  // namespace
}  // namespace vistrelle::cloud
