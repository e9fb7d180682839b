// The sheet's road after the offer: the download with its progress, cancel,
// retry and verification, then the installer hand-off.

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/helpers/language_bundle.h"
#include "update_fixture.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;
using Panel = UpdateSheet::Panel;
namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string sha256Hex(const std::string& bytes, bool upper = false) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  std::string hex;
  for (unsigned char b : digest) {
    static const char* lower = "0123456789abcdef";
    static const char* capital = "0123456789ABCDEF";
    const char* digits = upper ? capital : lower;
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

class UpdateSheetTest : public UpdateFixture {
 protected:
  // The folder's file names.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    if (!fs::exists(packageFolder())) return names;
    for (const auto& entry : fs::directory_iterator(packageFolder())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Clicks "立即下载" (or "重试") and waits for the result panel.
  void download(FakeUpdateSheet& sheet, bool retry = false) {
    retry ? sheet.clickStatus() : sheet.clickUpdate();
    EXPECT_EQ(sheet.panel(), Panel::downloading);
    ASSERT_TRUE(runUntil([&] { return sheet.panel() == Panel::result; }));
    main_->runUntilIdle();
  }

  void expectSucceeded(const FakeUpdateSheet& sheet) {
    EXPECT_EQ(sheet.panel(), Panel::result);
    EXPECT_EQ(sheet.resultTitle, "下载成功");
    EXPECT_EQ(sheet.resultImage, "update-dfu-success");
    EXPECT_EQ(sheet.statusButtonTitle(), "安装");
    ASSERT_NE(update().appUpdateView(), nullptr);
    EXPECT_EQ(update().appUpdateView()->updateUrl(), std::optional<std::string>(packagePath()));
  }
  void expectFailed(const FakeUpdateSheet& sheet) {
    EXPECT_EQ(sheet.panel(), Panel::result);
    EXPECT_EQ(sheet.resultTitle, "下载失败");
    EXPECT_EQ(sheet.resultImage, "update-dfu-failed");
    EXPECT_EQ(sheet.statusButtonTitle(), "重试");
    ASSERT_NE(update().appUpdateView(), nullptr);
    EXPECT_FALSE(update().appUpdateView()->updateUrl().has_value());
  }

  Reply trickled() const {
    Reply paced = Reply::text(200, service_.package(), "application/octet-stream");
    paced.trickleBytes = 8 * 1024;
    paced.trickleInterval = std::chrono::milliseconds(3);
    return paced;
  }
};

TEST_F(UpdateSheetTest, ProgressFillsTheTrackAndTheResultOffersInstall) {
  ASSERT_GE(service_.package().size(), 32u * 1024) << "enough for several reports";
  service_.script("GET", "/api" + releasePath(), trickled());
  FakeUpdateSheet& sheet = offered();
  EXPECT_EQ(sheet.panel(), Panel::offer);

  download(sheet);
  expectSucceeded(sheet);
  EXPECT_EQ(readFile(packagePath()), service_.package());
  EXPECT_EQ(service_.requestsTo("/api" + releasePath()).size(), 1u);

  // From the reset to 0 up to the whole track (240 wide), never back.
  const std::vector<double>& widths = sheet.fillWidths;
  ASSERT_GE(widths.size(), 3u);
  EXPECT_EQ(widths.front(), 0.0);
  EXPECT_TRUE(std::is_sorted(widths.begin(), widths.end()));
  EXPECT_GT(widths[widths.size() / 2], 0.0);
  EXPECT_LT(widths[1], 240.0) << "part-way reports fill part of the track";
  EXPECT_EQ(widths.back(), 240.0);
}

TEST_F(UpdateSheetTest, CancelDuringTheDownloadLeavesNoResultAndNoFile) {
  Reply slow = trickled();
  slow.trickleInterval = std::chrono::milliseconds(50);
  service_.script("GET", "/api" + releasePath(), slow);
  FakeUpdateSheet& sheet = offered();
  sheet.clickUpdate();
  ASSERT_TRUE(runUntil([&] { return sheet.fillWidth() > 0; })) << "under way";

  sheet.clickCancel(CancelButton::downloading);
  EXPECT_FALSE(sheet.isShown());
  EXPECT_EQ(sheet.removals, 1);
  EXPECT_EQ(update().appUpdateView(), nullptr);
  // The cancel error arrives later (the layer prints it) and changes nothing.
  ASSERT_TRUE(runUntil([&] {
    return !console_.empty() &&
           console_.back().rfind(OrvexAlamofireManager::kDownloadFailedText, 0) == 0;
  }));
  main_->runUntilIdle();
  EXPECT_EQ(sheet.panel(), Panel::downloading) << "no result panel for it";
  EXPECT_EQ(files(), std::vector<std::string>{});
}

TEST_F(UpdateSheetTest, AnyOtherEndOfTheDownloadIsAFailure) {
  // Someone else cancelling the update's group is not the user's cancel.
  Reply slow = trickled();
  slow.trickleInterval = std::chrono::milliseconds(50);
  service_.scriptOnce("GET", "/api" + releasePath(), slow);
  FakeUpdateSheet& sheet = offered();
  sheet.clickUpdate();
  ASSERT_TRUE(runUntil([&] { return sheet.fillWidth() > 0; }));
  http_->cancelGroup(UpdateSheetController::downloadGroup());
  ASSERT_TRUE(runUntil([&] { return sheet.panel() == Panel::result; }));
  expectFailed(sheet);
  EXPECT_TRUE(sheet.isShown());
}

TEST_F(UpdateSheetTest, RetryAfterA404DownloadsAgainAndReplacesTheFile) {
  fs::create_directories(packageFolder());
  writeFile(packagePath(), "an older package");
  service_.scriptOnce("GET", "/api" + releasePath(), Reply::text(404, "not here"));
  FakeUpdateSheet& sheet = offered();

  download(sheet);
  expectFailed(sheet);

  download(sheet, /*retry=*/true);
  expectSucceeded(sheet);
  EXPECT_EQ(readFile(packagePath()), service_.package());
  EXPECT_EQ(files(), std::vector<std::string>{"OrvexSpace_package.deb"});
  EXPECT_EQ(service_.requestsTo("/api" + releasePath()).size(), 2u);
}

TEST_F(UpdateSheetTest, APackageThatDoesNotMatchItsDigestIsRemoved) {
  const std::string right = sha256Hex(service_.package());
  const std::string wrong = sha256Hex(service_.package() + "x");
  const struct {
    const char* name;
    nlohmann::json sha256;
    bool accepted;
  } cases[] = {
      {"matching", right, true},
      {"matching, capitals", sha256Hex(service_.package(), true), true},
      {"not stated", nullptr, true},
      {"empty", "", true},
      {"another package's", wrong, false},
      {"not a digest", "abc", false},
      {"not a text", 42, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nlohmann::json data = service_.latestRelease();
    data.erase("sha256");
    if (!c.sha256.is_null()) data["sha256"] = c.sha256;
    service_.setLatestRelease(data);
    FakeUpdateSheet& sheet = offered();
    download(sheet);
    if (c.accepted) {
      expectSucceeded(sheet);
      EXPECT_EQ(files(), std::vector<std::string>{"OrvexSpace_package.deb"});
    } else {
      expectFailed(sheet);
      EXPECT_EQ(files(), std::vector<std::string>{});
    }
    sheet.clickCancel(CancelButton::offer);
    fs::remove_all(packageFolder());
  }
}

// The installer stand-in: a script that writes its arguments, one per line
// after their count, and exits with the given code.
class InstallTest : public UpdateSheetTest {
 protected:
  void SetUp() override {
    UpdateSheetTest::SetUp();
    record_ = home_.path() + "/installer-argv";
  }

  std::string installerExiting(int code) {
    const std::string path = home_.path() + "/installer-" + std::to_string(code);
    std::ofstream(path) << "#!/bin/sh\n"
                        << "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } >> '"
                        << record_ << "'\n"
                        << "exit " << code << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }

  // Every run's arguments.
  std::vector<std::vector<std::string>> runs() const {
    std::vector<std::vector<std::string>> all;
    std::istringstream lines(readFile(record_));
    for (std::string count; std::getline(lines, count);) {
      std::vector<std::string> argv(std::stoul(count));
      for (auto& argument : argv) std::getline(lines, argument);
      all.push_back(argv);
    }
    return all;
  }

  // Downloads, then clicks "安装" and waits for the installer's end.
  FakeUpdateSheet& installed() {
    FakeUpdateSheet& sheet = offered();
    download(sheet);
    expectSucceeded(sheet);
    const size_t before = runs().size();
    sheet.clickStatus();
    EXPECT_TRUE(runUntil([&] { return host_.terminations > 0 || !sheet.installFailure.empty(); }));
    main_->runUntilIdle();
    EXPECT_LE(runs().size(), before + 1);
    return sheet;
  }

  void expectStaysWithThePath(const FakeUpdateSheet& sheet) {
    EXPECT_EQ(host_.terminations, 0);
    EXPECT_TRUE(sheet.isShown());
    EXPECT_EQ(sheet.panel(), Panel::result);
    EXPECT_EQ(sheet.statusButtonTitle(), "安装");
    EXPECT_EQ(sheet.installFailure, "无法打开安装包，安装包已保存到：" + packagePath());
  }

  std::string record_;
};

TEST_F(InstallTest, ThePathArrivesAsOneArgumentAndExit0EndsTheApplicationOnce) {
  installer_ = installerExiting(0);
  FakeUpdateSheet& sheet = installed();
  EXPECT_EQ(runs(), (std::vector<std::vector<std::string>>{{packagePath()}}));
  EXPECT_FALSE(fs::exists(home_.path() + "/x"));
  EXPECT_FALSE(fs::exists(packageFolder() + "/x"));
  EXPECT_FALSE(fs::exists("x"));
  EXPECT_EQ(host_.terminations, 1);
  EXPECT_TRUE(sheet.installFailure.empty());

  sheet.clickStatus();  // too late: the application is on its way out
  main_->runUntilIdle();
  EXPECT_EQ(runs().size(), 1u);
  EXPECT_EQ(host_.terminations, 1);
}

TEST_F(InstallTest, AnInstallerThatFailsLeavesTheSheetWithThePathAndItsFolder) {
  installer_ = installerExiting(3);
  FakeUpdateSheet& sheet = installed();
  expectStaysWithThePath(sheet);
  EXPECT_EQ(logs_.back(), "App Update: " + installer_ + " exited with 3");

  sheet.clickOpenFolder();
  ASSERT_TRUE(runUntil([&] { return runs().size() == 2; }));
  EXPECT_EQ(runs()[1], std::vector<std::string>{packageFolder()});

  // "安装" again runs it again; the line goes while it runs.
  sheet.clickStatus();
  EXPECT_TRUE(sheet.installFailure.empty());
  ASSERT_TRUE(runUntil([&] { return !sheet.installFailure.empty(); }));
  EXPECT_EQ(runs().size(), 3u);
  EXPECT_EQ(host_.terminations, 0);
}

TEST_F(InstallTest, AnInstallerThatCannotStartLeavesTheSheetTheSameWay) {
  installer_ = home_.path() + "/no such installer";
  FakeUpdateSheet& sheet = installed();
  expectStaysWithThePath(sheet);
  EXPECT_NE(logs_.back().find("cannot start"), std::string::npos) << logs_.back();
}

TEST_F(InstallTest, InEnglishTheLineIsTranslated) {
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  installer_ = installerExiting(4);
  FakeUpdateSheet& sheet = offered();
  download(sheet);
  EXPECT_EQ(sheet.statusButtonTitle(), "Install");
  sheet.clickStatus();
  ASSERT_TRUE(runUntil([&] { return !sheet.installFailure.empty(); }));
  EXPECT_EQ(sheet.installFailure,
            "Could not open the installer package. It was saved to: " + packagePath());
  EXPECT_EQ(base::LanguageBundle::shared().localizedStringForKey("打开所在文件夹"),
            "Open Containing Folder");
}

}  // namespace
}  // namespace vistrelle::cloud
