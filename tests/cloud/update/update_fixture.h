#pragma once

// What the update tests share: the HTTP layer's fixture (a home of their
// own, the stand-in, a main queue the test drains) with the update check on
// top, a fake host and sheets, and a download folder whose name a shell
// would split and run.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/http_fixture.h"
#include "cloud/update/app_update.h"
#include "cloud/update/fake/fake_update_host.h"

namespace vistrelle::cloud {

class UpdateFixture : public HttpFixture {
 protected:
  void TearDown() override {
    update_.reset();
    HttpFixture::TearDown();
  }

  OrvexAlamofireManager::Options options() override {
    OrvexAlamofireManager::Options o = HttpFixture::options();
    o.downloadFolder = [folder = packageFolder()] { return folder; };
    return o;
  }

  // A space and a command substitution in the folder's name.
  std::string packageFolder() const { return home_.path() + "/pkg dir $(touch x)"; }
  std::string packagePath() const { return packageFolder() + "/OrvexSpace_package.deb"; }

  virtual UpdateServices services() {
    UpdateServices s;
    // The fixture owns the layer; the update only borrows it.
    s.http = std::shared_ptr<OrvexAlamofireManager>(std::shared_ptr<void>(), http_.get());
    s.mainQueue = main_;
    s.workQueue = runtime_.globalQueue();
    s.launcher = launcher_;
    s.installer = installer_;
    s.localVersion = "1.0.0";
    s.log = [this](const std::string& line) { logs_.push_back(line); };
    return s;
  }

  AppUpdate& update() {
    if (!update_) update_ = std::make_unique<AppUpdate>(host_, services());
    return *update_;
  }

  // Runs one check to its completion; none when it never completed.
  std::optional<bool> check() {
    std::optional<bool> result;
    int calls = 0;
    update().checkAppUpdate([&](bool nothingInTheWay) {
      ++calls;
      result = nothingInTheWay;
    });
    EXPECT_TRUE(runUntil([&] { return calls > 0; }));
    main_->runUntilIdle();
    EXPECT_LE(calls, 1);
    return result;
  }

  // A check that puts the sheet up; the sheet.
  FakeUpdateSheet& offered() {
    EXPECT_EQ(check(), std::optional<bool>(false));
    EXPECT_NE(host_.lastSheet(), nullptr);
    return *host_.lastSheet();
  }

  std::string releasePath() const {
    return service_.latestRelease().at("downloadUrl").get<std::string>();
  }
  std::string packageUrl() const { return service_.root() + "/api" + releasePath(); }

  FakeUpdateHost host_;
  std::shared_ptr<process::ProcessLauncher> launcher_;  // none: the real one
  std::string installer_ = "xdg-open";
  std::vector<std::string> logs_;
  std::unique_ptr<AppUpdate> update_;
};

}  // namespace vistrelle::cloud
