// The package download: progress, the file and its name, replacement, the
// failures that leave nothing behind, cancel, redirects and the idle limit.

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cloud/http/download_destination.h"
#include "support/http_fixture.h"

namespace vistrelle::cloud {
namespace {

using testing::ServiceStandIn;
using Reply = ServiceStandIn::Reply;
namespace fs = std::filesystem;

struct Download {
  std::vector<double> progress;
  int completions = 0;
  std::optional<std::string> path;
  std::optional<HttpError> error;

  bool done() const { return completions > 0; }
  DownloadProgress onProgress() {
    return [this](double fraction) { progress.push_back(fraction); };
  }
  DownloadCompletion onCompletion() {
    return [this](std::optional<std::string> p, std::optional<HttpError> e) {
      ++completions;
      path = std::move(p);
      error = std::move(e);
    };
  }
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string bytesOf(size_t size, char seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 7);
  return bytes;
}

class DownloadTest : public HttpFixture {
 protected:
  std::string packageUrl() const {
    return service_.root() + "/api" + service_.latestRelease().at("downloadUrl").get<std::string>();
  }

  Download download(const std::string& url) {
    Download d;
    http_->downloadRequest(url, d.onProgress(), d.onCompletion());
    EXPECT_TRUE(runUntil([&] { return d.done(); }));
    main_->runUntilIdle();
    return d;
  }

  // The folder's file names.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    if (!fs::exists(downloads())) return names;
    for (const auto& entry : fs::directory_iterator(downloads())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  void expectNothingKept(const Download& d) {
    EXPECT_FALSE(d.path.has_value());
    EXPECT_TRUE(d.error.has_value());
    EXPECT_EQ(d.completions, 1);
    EXPECT_EQ(files(), std::vector<std::string>{});
  }
};

TEST_F(DownloadTest, ProgressGrowsToOneAndTheFileIsNamedAfterTheUrl) {
  // Progress is coalesced into the latest value per main-queue turn, so the
  // chunks come slowly enough for a loaded machine's main queue to see some.
  Reply paced = Reply::text(200, service_.package(), "application/octet-stream");
  paced.trickleBytes = service_.package().size() / 6 + 1;
  paced.trickleInterval = std::chrono::milliseconds(80);
  service_.script("GET", "/api/admin/appPublish/download/Vistrelle_9.9.9_amd64.deb", paced);

  const Download d = download(packageUrl());
  ASSERT_TRUE(d.path.has_value()) << d.error->text();
  EXPECT_EQ(*d.path, downloads() + "/OrvexSpace_package.deb");
  EXPECT_EQ(readFile(*d.path), service_.package());
  EXPECT_EQ(files(), std::vector<std::string>{"OrvexSpace_package.deb"});
  ASSERT_GE(d.progress.size(), 2u);
  EXPECT_TRUE(std::is_sorted(d.progress.begin(), d.progress.end()));
  EXPECT_EQ(std::adjacent_find(d.progress.begin(), d.progress.end()), d.progress.end());
  EXPECT_GT(d.progress.front(), 0.0);
  EXPECT_EQ(d.progress.back(), 1.0);
  EXPECT_EQ(console_.back(), "下载完成，文件保存到：file://" + *d.path);
}

TEST_F(DownloadTest, AnUnknownLengthReportsZeroUntilTheEnd) {
  Reply chunked = Reply::text(200, bytesOf(40000, 3), "application/octet-stream");
  chunked.chunked = true;
  chunked.trickleBytes = 10000;
  chunked.trickleInterval = std::chrono::milliseconds(5);
  service_.script("GET", "/dl/Vistrelle.AppImage", chunked);

  const Download d = download(service_.root() + "/dl/Vistrelle.AppImage");
  ASSERT_TRUE(d.path.has_value()) << d.error->text();
  EXPECT_EQ(readFile(*d.path), bytesOf(40000, 3));
  ASSERT_EQ(d.progress.size(), 2u);
  EXPECT_EQ(d.progress, (std::vector<double>{0.0, 1.0}));
}

TEST_F(DownloadTest, ASecondDownloadReplacesTheFirst) {
  ASSERT_TRUE(download(packageUrl()).path.has_value());
  service_.setPackage(bytesOf(1000, 9));
  const Download second = download(packageUrl());
  ASSERT_TRUE(second.path.has_value());
  EXPECT_EQ(readFile(*second.path), bytesOf(1000, 9));
  EXPECT_EQ(files(), std::vector<std::string>{"OrvexSpace_package.deb"});
}

TEST_F(DownloadTest, ACutShortOrFailedReplyLeavesNoFileAndNoPart) {
  // An earlier package stays what it was: a failed download never touches it.
  struct Case {
    std::string name;
    Reply reply;
    long status;
    int curlCode;
  };
  Reply cut = Reply::text(200, bytesOf(30000, 1), "application/octet-stream");
  cut.contentLength = 50000;
  cut.trickleBytes = 10000;
  cut.trickleInterval = std::chrono::milliseconds(5);
  const std::vector<Case> cases = {
      {"cut short", cut, 0, CURLE_PARTIAL_FILE},
      {"404 with a body", Reply::text(404, "not here"), 404, 0},
      {"404 without a body", Reply::text(404, ""), 404, 0},
      {"500", Reply::json(500, {{"success", false}}), 500, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service_.scriptOnce("GET", "/dl/x.deb", c.reply);
    const Download d = download(service_.root() + "/dl/x.deb");
    expectNothingKept(d);
    EXPECT_EQ(d.error->statusCode(), c.status);
    EXPECT_EQ(d.error->curlCode(), c.curlCode);
    EXPECT_EQ(console_.back(), "下载失败：" + d.error->text());
  }
}

TEST_F(DownloadTest, CancelEndsWithTheCancelErrorAndRemovesThePart) {
  Reply slow = Reply::text(200, bytesOf(100000, 5), "application/octet-stream");
  slow.trickleBytes = 1000;
  slow.trickleInterval = std::chrono::milliseconds(50);
  service_.script("GET", "/dl/slow.deb", slow);

  Download d;
  const RequestHandle handle =
      http_->downloadRequest(service_.root() + "/dl/slow.deb", d.onProgress(), d.onCompletion());
  ASSERT_TRUE(runUntil([&] { return !d.progress.empty(); }));
  EXPECT_EQ(files(), std::vector<std::string>{"OrvexSpace_package.deb.part"});
  handle.cancel();
  ASSERT_TRUE(runUntil([&] { return d.done(); }));
  expectNothingKept(d);
  EXPECT_TRUE(d.error->isCancelled());
  EXPECT_EQ(d.error->domain(), "cn.com.qx.orvexForMac.http");
  EXPECT_EQ(d.error->code(), 15);
}

TEST_F(DownloadTest, RedirectsAreFollowedOverHttpOnlyAndTheNameComesFromTheFinalUrl) {
  ServiceStandIn mirror;
  mirror.script("GET", "/files/Vistrelle-9.9.9.AppImage",
                Reply::text(200, bytesOf(5000, 2), "application/octet-stream"));
  service_.script("GET", "/dl/latest",
                  Reply::redirect(mirror.root() + "/files/Vistrelle-9.9.9.AppImage"));
  const Download followed = download(service_.root() + "/dl/latest");
  ASSERT_TRUE(followed.path.has_value()) << followed.error->text();
  EXPECT_EQ(*followed.path, downloads() + "/OrvexSpace_package.AppImage");
  EXPECT_EQ(readFile(*followed.path), bytesOf(5000, 2));

  fs::remove(*followed.path);
  service_.script("GET", "/dl/local", Reply::redirect("file:///etc/passwd"));
  const Download refused = download(service_.root() + "/dl/local");
  expectNothingKept(refused);
  EXPECT_EQ(refused.error->curlCode(), CURLE_UNSUPPORTED_PROTOCOL);
  // A file:// address given directly is refused the same way.
  const Download direct = download("file:///etc/passwd");
  expectNothingKept(direct);
  EXPECT_EQ(direct.error->curlCode(), CURLE_UNSUPPORTED_PROTOCOL);
}

class IdleLimitTest : public DownloadTest {
 protected:
  OrvexAlamofireManager::Options options() override {
    auto o = DownloadTest::options();
    o.downloadIdleLimit = std::chrono::seconds(1);
    o.requestTimeout = std::chrono::milliseconds(300);  // must not apply to downloads
    return o;
  }
};

TEST_F(IdleLimitTest, ASlowButNeverIdleTransferOutlivesTheIdleLimitAndAStallDoesNot) {
  Reply steady = Reply::text(200, bytesOf(600, 4), "application/octet-stream");
  steady.trickleBytes = 100;
  steady.trickleInterval = std::chrono::milliseconds(300);  // 1.5 s in all
  service_.script("GET", "/dl/steady.deb", steady);
  const Download ok = download(service_.root() + "/dl/steady.deb");
  ASSERT_TRUE(ok.path.has_value()) << ok.error->text();
  EXPECT_EQ(readFile(*ok.path), bytesOf(600, 4));

  // Silent from the start (mid-transfer, libcurl's speed window only makes
  // the wait a few seconds longer).
  Reply stalled = Reply::text(200, bytesOf(200, 4), "application/octet-stream");
  stalled.delay = std::chrono::seconds(20);
  service_.script("GET", "/dl/stalled.deb", stalled);
  const Download stall = download(service_.root() + "/dl/stalled.deb");
  ASSERT_TRUE(stall.error.has_value());
  EXPECT_EQ(stall.error->curlCode(), CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(files(), std::vector<std::string>{"OrvexSpace_package.deb"});
}

class DefaultFolderTest : public DownloadTest {
 protected:
  OrvexAlamofireManager::Options options() override {
    auto o = DownloadTest::options();
    o.downloadFolder = nullptr;
    return o;
  }
};

TEST_F(DefaultFolderTest, PackagesGoToAPrivateFolderInTheUsersCaches) {
  const Download d = download(packageUrl());
  ASSERT_TRUE(d.path.has_value()) << d.error->text();
  const std::string folder = home_.path() + "/cache/cn.com.qx.orvexForMac";
  EXPECT_EQ(downloadFolder(), folder);
  EXPECT_EQ(*d.path, folder + "/OrvexSpace_package.deb");
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace vistrelle::cloud
