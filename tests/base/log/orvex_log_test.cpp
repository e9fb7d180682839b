#include "base/log/orvex_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vistrelle {
namespace {

namespace fs = std::filesystem;

class OrvexLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vistrelle-log-XXXXXX").string();
    documents = mkdtemp(pattern.data());
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override { fs::remove_all(documents); }

  OrvexLog makeLog() {
    OrvexLog::Options options;
    options.documentsDir = [this] { return documents.string(); };
    // 2024-12-30 23:59:58 UTC: the calendar year, not the week-based one.
    options.now = [] { return std::chrono::system_clock::from_time_t(1735603198); };
    options.console = [this](const std::string& text) { console.push_back(text); };
    return OrvexLog(options);
  }
  std::string read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  fs::path documents;
  std::vector<std::string> console;
};

TEST_F(OrvexLogTest, LineFormatAndFilesPerName) {
  OrvexLog log = makeLog();
  log.append("=== App Start ===", LogName::Vistrelle);
  log.append("second", LogName::Vistrelle);
  log.appendZeroTier("joined", 3);
  log.append("stream", LogName::Sunshine);
  const fs::path folder = documents / ".OrvexSpace";
  EXPECT_EQ(read(folder / "orvex_log_Vistrelle.log"),
            "2024-12-30 23:59:58: === App Start ===\n2024-12-30 23:59:58: second\n");
  EXPECT_EQ(read(folder / "orvex_log_ZeroTier.log"), "2024-12-30 23:59:58: joined--3\n\n");
  EXPECT_EQ(read(folder / "orvex_log_Sunshine.log"), "2024-12-30 23:59:58: stream\n");
  EXPECT_EQ(log.filePath(LogName::ZeroTier), (folder / "orvex_log_ZeroTier.log").string());
  EXPECT_EQ(console.front(), "文件夹创建成功: " + folder.string());
}

TEST_F(OrvexLogTest, EmptyMessageWritesNothingAndCreatesNoFolder) {
  OrvexLog log = makeLog();
  log.append("", LogName::Vistrelle);
  EXPECT_FALSE(fs::exists(documents / ".OrvexSpace"));
  EXPECT_TRUE(console.empty());
}

TEST_F(OrvexLogTest, FileOverTheCapStartsAgainAndOneAtTheCapGrows) {
  OrvexLog log = makeLog();
  const std::string path = log.filePath(LogName::Vistrelle);
  for (uint64_t size : {OrvexLog::kMaxFileBytes, OrvexLog::kMaxFileBytes + 1}) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);  // sparse: no real 100 MiB
    close(fd);
    console.clear();
    log.append("line", LogName::Vistrelle);
    const auto after = fs::file_size(path);
    if (size == OrvexLog::kMaxFileBytes) {
      EXPECT_EQ(after, size + 26);
      EXPECT_EQ(console.back(), "日志文件大小为: 100.000000 M");
    } else {
      EXPECT_EQ(after, 26u) << "deleted, then the line starts a fresh file";
      EXPECT_EQ(console.back(), "日志文件已删除");
    }
  }
}

TEST_F(OrvexLogTest, LinesFromManyThreadsStayWhole) {
  OrvexLog log = makeLog();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < 1000; ++i) {
        log.append("thread " + std::to_string(t) + " line " + std::to_string(i) + " " +
                       std::string(40, 'a' + t),
                   LogName::Vistrelle);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::istringstream lines(read(log.filePath(LogName::Vistrelle)));
  std::string line;
  std::vector<int> next(8, 0);
  int count = 0;
  while (std::getline(lines, line)) {
    int t = -1, i = -1;
    char tail[64] = {};
    ASSERT_EQ(
        std::sscanf(line.c_str(), "2024-12-30 23:59:58: thread %d line %d %63s", &t, &i, tail), 3)
        << line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, 8);
    EXPECT_EQ(i, next[t]++) << "lines of one thread keep their order";
    EXPECT_EQ(std::string(tail), std::string(40, 'a' + t));
    ++count;
  }
  EXPECT_EQ(count, 8000);
}

TEST_F(OrvexLogTest, UnwritableFolderLosesTheLineWithoutFailing) {
  OrvexLog::Options options;
  options.documentsDir = [] { return std::string("/proc/vistrelle-no-such-place"); };
  std::vector<std::string> seen;
  options.console = [&](const std::string& text) { seen.push_back(text); };
  OrvexLog log(options);
  log.append("lost", LogName::Vistrelle);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().rfind("创建文件夹失败: ", 0), 0u);
}

// The Documents folder comes from user-dirs.dirs, read once per home and
// configuration folder: editing the file while the program runs changes
// nothing, a different home is read afresh.
TEST_F(OrvexLogTest, DocumentsFolderIsResolvedOncePerHome) {
  const char* savedHome = std::getenv("HOME");
  const std::string restoreHome = savedHome ? savedHome : "";
  auto userDirs = [](const fs::path& home, const std::string& documentsName) {
    fs::create_directories(home / ".config");
    std::ofstream(home / ".config" / "user-dirs.dirs")
        << "XDG_DOCUMENTS_DIR=\"$HOME/" << documentsName << "\"\n";
  };
  const fs::path first = documents / "first", second = documents / "second";
  userDirs(first, "Docs");
  userDirs(second, "Papers");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", first.c_str(), 1);
  OrvexLog::Options options;
  options.console = [](const std::string&) {};
  OrvexLog log(options);
  log.append("one", LogName::Vistrelle);
  userDirs(first, "Elsewhere");
  log.append("two", LogName::Vistrelle);
  EXPECT_EQ(read(first / "Docs/.OrvexSpace/orvex_log_Vistrelle.log").size(), 2 * 25u);
  EXPECT_FALSE(fs::exists(first / "Elsewhere"));
  setenv("HOME", second.c_str(), 1);
  log.append("three", LogName::Vistrelle);
  EXPECT_TRUE(fs::exists(second / "Papers/.OrvexSpace/orvex_log_Vistrelle.log"));
  setenv("HOME", restoreHome.c_str(), 1);
}

}  // namespace
}  // namespace vistrelle
