#include "platform/settings/user_defaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/settings/fake/in_memory_user_defaults.h"
#include "platform/settings/linux/json_file_user_defaults.h"
#include "platform/settings/user_directories.h"

namespace vistrelle {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vistrelle-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST(JsonFileUserDefaults, PersistsTypedValuesAcrossReopening) {
  TempDir dir;
  const std::string path = (dir.path() / "cfg" / "vistrelle" / "user-defaults.json").string();
  {
    JsonFileUserDefaults store(path);
    store.setInteger("ScreenModeUserDefaultsKey", 2);
    store.setFloat("depthScaleValue_UserDefault", 0.01f);
    store.setBool("displayVolumeLevel_isSoundOff_UserDefaultsKey", true);
    store.setString("DefaultUserSettings", "en");
    store.setDictionary("UserDefault_key_orvex_userInfo",
                        {{"access_token", "t"}, {"expires", 7200}});
    EXPECT_TRUE(store.synchronize());
    EXPECT_EQ(store.writeCount(), 5u);
  }
  JsonFileUserDefaults reopened(path);
  EXPECT_EQ(reopened.integerForKey("ScreenModeUserDefaultsKey"), 2);
  EXPECT_EQ(reopened.floatForKey("depthScaleValue_UserDefault"), 0.01f)
      << "0.01f round-trips exactly";
  EXPECT_EQ(reopened.boolForKey("displayVolumeLevel_isSoundOff_UserDefaultsKey"), true);
  EXPECT_EQ(reopened.stringForKey("DefaultUserSettings"), "en");
  auto info = reopened.dictionaryForKey("UserDefault_key_orvex_userInfo");
  ASSERT_TRUE(info);
  EXPECT_EQ((*info)["expires"].intOr(0), 7200);
  // The file keeps the short decimal, readable by a person.
  std::ifstream file(path);
  std::string text((std::istreambuf_iterator<char>(file)), {});
  EXPECT_NE(text.find("0.01"), std::string::npos);
  EXPECT_EQ(text.find("0.0099999"), std::string::npos);
}

TEST(JsonFileUserDefaults, WrongTypesReadAsAbsentAndNumbersAlike) {
  TempDir dir;
  JsonFileUserDefaults store((dir.path() / "d.json").string());
  store.setString("ScreenModeUserDefaultsKey", "2");
  store.setInteger("privacyScreenLockState_UserDefault", 1);
  EXPECT_FALSE(store.integerForKey("ScreenModeUserDefaultsKey"));
  EXPECT_FALSE(store.floatForKey("ScreenModeUserDefaultsKey"));
  EXPECT_EQ(store.boolForKey("privacyScreenLockState_UserDefault"), true);
  EXPECT_EQ(store.floatForKey("privacyScreenLockState_UserDefault"), 1.0f);
  store.setDouble("depthScaleValue_UserDefault", 1e300);  // no float holds it
  EXPECT_FALSE(store.floatForKey("depthScaleValue_UserDefault"));
  EXPECT_EQ(store.doubleForKey("depthScaleValue_UserDefault"), 1e300);
  EXPECT_FALSE(store.stringForKey("privacyScreenLockState_UserDefault"));
  EXPECT_FALSE(store.integerForKey("missing"));
  store.removeObjectForKey("privacyScreenLockState_UserDefault");
  EXPECT_FALSE(store.objectForKey("privacyScreenLockState_UserDefault"));
}

TEST(JsonFileUserDefaults, PrivateFolderAndFile) {
  TempDir dir;
  const fs::path folder = dir.path() / "vistrelle";
  JsonFileUserDefaults store((folder / "user-defaults.json").string());
  store.setString("UserDefault_key_orvex_userInfo", "secret");
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((folder / "user-defaults.json").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_EQ(entry.path().filename(), "user-defaults.json") << "no temporary file is left";
  }
}

TEST(JsonFileUserDefaults, CorruptOrTruncatedFileIsKeptAside) {
  for (const char* broken :
       {"{\"ScreenModeUserDefaultsKey\": 2, \"depth", "[1,2]", "\x01\x02garbage"}) {
    TempDir dir;
    const fs::path path = dir.path() / "user-defaults.json";
    std::ofstream(path) << broken;
    std::vector<std::string> reports;
    JsonFileUserDefaults store(path.string(), [&](const std::string& t) { reports.push_back(t); });
    EXPECT_FALSE(store.integerForKey("ScreenModeUserDefaultsKey"));
    ASSERT_EQ(reports.size(), 1u) << broken;
    EXPECT_NE(reports[0].find(".bad"), std::string::npos);
    std::ifstream aside(path.string() + ".bad");
    std::string kept((std::istreambuf_iterator<char>(aside)), {});
    EXPECT_EQ(kept, broken) << "the damaged file is kept byte for byte";
    store.setInteger("ScreenModeUserDefaultsKey", 1);
    EXPECT_EQ(JsonFileUserDefaults(path.string()).integerForKey("ScreenModeUserDefaultsKey"), 1);
  }
}

std::string readAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

TEST(JsonFileUserDefaults, TextThatIsNotUtf8IsRefusedAndLaterWritesLand) {
  TempDir dir;
  const std::string path = (dir.path() / "d.json").string();
  std::vector<std::string> reports;
  JsonFileUserDefaults file(path, [&](const std::string& t) { reports.push_back(t); });
  InMemoryUserDefaults memory;
  struct Case {
    std::string key;
    Value value;
  };
  const Case cases[] = {
      {"DefaultUserSettings", Value("caf\xe9")},
      {"DefaultUserSettings", Value("\xed\xa0\x80")},  // a surrogate
      {"DefaultUserSettings", Value("\xc0\xaf")},      // overlong
      {"bad\xff", Value(1)},
      {"UserDefault_key_orvex_userInfo", Value(Value::Map{{"nick", Value("\xf5\x80\x80\x80")}})},
      {"UserDefault_key_orvex_userInfo", Value(Value::List{Value("ok"), Value("\x80")})},
  };
  for (UserDefaults* store :
       {static_cast<UserDefaults*>(&file), static_cast<UserDefaults*>(&memory)}) {
    store->setString("DefaultUserSettings", "zh-Hans");
    store->setDictionary("UserDefault_key_orvex_userInfo", {{"nick", "安娜"}});
    for (const Case& c : cases) {
      SCOPED_TRACE(c.key);
      store->setObject(c.key, c.value);
      EXPECT_FALSE(store->synchronize()) << "the refusal is reported";
      EXPECT_FALSE(store->objectForKey(c.key) && *store->objectForKey(c.key) == c.value);
      store->setInteger("ScreenModeUserDefaultsKey", 2);
      EXPECT_TRUE(store->synchronize()) << "the next write lands";
    }
    EXPECT_EQ(store->stringForKey("DefaultUserSettings"), "zh-Hans") << "the old value stays";
  }
  EXPECT_EQ(reports.size(), std::size(cases));
  EXPECT_NE(reports[0].find("not UTF-8"), std::string::npos) << reports[0];
  JsonFileUserDefaults reopened(path);
  EXPECT_EQ(reopened.integerForKey("ScreenModeUserDefaultsKey"), 2);
  EXPECT_EQ(reopened.stringForKey("DefaultUserSettings"), "zh-Hans");
  EXPECT_EQ((*reopened.dictionaryForKey("UserDefault_key_orvex_userInfo"))["nick"].stringOr(""),
            "安娜");
}

TEST(JsonFileUserDefaults, AFileKeptAsideIsNeverWrittenOver) {
  const std::string broken = "{\"ScreenModeUserDefaultsKey\": 2, \"dep";
  struct Case {
    const char* name;
    int takenFiles;       // ".bad", ".bad.1", ... already there as files
    bool badIsDirectory;  // ".bad" is a folder
    bool keptAside;
  };
  const Case cases[] = {
      {"an earlier .bad file", 1, false, true},
      {".bad is a folder", 0, true, true},
      {"every name taken", 1000, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const fs::path path = dir.path() / "user-defaults.json";
    std::ofstream(path) << broken;
    for (int i = 0; i < c.takenFiles; ++i) {
      std::ofstream(path.string() + ".bad" + (i == 0 ? "" : "." + std::to_string(i)))
          << "earlier " << i;
    }
    if (c.badIsDirectory) fs::create_directory(path.string() + ".bad");
    std::vector<std::string> reports;
    JsonFileUserDefaults store(path.string(), [&](const std::string& t) { reports.push_back(t); });
    store.setInteger("ScreenModeUserDefaultsKey", 1);

    if (c.takenFiles > 0) {
      EXPECT_EQ(readAll(path.string() + ".bad"), "earlier 0");
    }
    ASSERT_EQ(reports.size(), 1u);
    if (c.keptAside) {
      const fs::path aside = path.string() + ".bad.1";
      EXPECT_EQ(readAll(aside), broken) << "kept byte for byte under a free name";
      EXPECT_NE(reports[0].find(aside.string()), std::string::npos) << reports[0];
      EXPECT_TRUE(store.synchronize());
      EXPECT_EQ(JsonFileUserDefaults(path.string()).integerForKey("ScreenModeUserDefaultsKey"), 1);
    } else {
      EXPECT_EQ(readAll(path), broken) << "a file that could not be moved is not replaced";
      EXPECT_NE(reports[0].find("not written"), std::string::npos) << reports[0];
      EXPECT_FALSE(store.synchronize());
      EXPECT_EQ(store.integerForKey("ScreenModeUserDefaultsKey"), 1) << "kept for this session";
    }
  }
}

TEST(JsonFileUserDefaults, DeepNestingIsCappedOnLoadAndOnWrite) {
  TempDir dir;
  const fs::path path = dir.path() / "user-defaults.json";
  const size_t levels = 50000;
  std::ofstream(path) << "{\"k\": \"[\", \"v\": " << std::string(levels, '[')
                      << std::string(levels, ']') << "}";
  ASSERT_GT(fs::file_size(path), 100000u);
  std::vector<std::string> reports;
  {
    JsonFileUserDefaults store(path.string(), [&](const std::string& t) { reports.push_back(t); });
    EXPECT_FALSE(store.objectForKey("k"));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(".bad"), std::string::npos) << "treated as a corrupt file";
    EXPECT_FALSE(fs::exists(path));
  }

  // The deepest value a file may hold is stored and loads again; one level
  // more is refused, so the store never writes a file it would refuse.
  auto nested = [](size_t depth) {
    Value value("leaf");
    for (size_t i = 0; i < depth; ++i) value = Value(Value::List{value});
    return value;
  };
  JsonFileUserDefaults store(path.string(), [&](const std::string& t) { reports.push_back(t); });
  store.setObject("deepest", nested(UserDefaults::kMaxDepth - 1));
  EXPECT_TRUE(store.synchronize());
  store.setObject("too deep", nested(UserDefaults::kMaxDepth));
  EXPECT_FALSE(store.synchronize());
  EXPECT_FALSE(store.objectForKey("too deep"));
  EXPECT_EQ(JsonFileUserDefaults(path.string()).objectForKey("deepest"),
            nested(UserDefaults::kMaxDepth - 1));
}

TEST(JsonFileUserDefaults, IntegersBeyondTheSignedRangeReadAsAbsent) {
  TempDir dir;
  const fs::path path = dir.path() / "d.json";
  std::ofstream(path) << R"({"a": 18446744073709551615, "b": 9223372036854775808,
                             "c": 9223372036854775807, "d": -9223372036854775808,
                             "e": {"x": 9223372036854775808, "y": 1}})";
  JsonFileUserDefaults store(path.string());
  EXPECT_FALSE(store.objectForKey("a"));
  EXPECT_FALSE(store.integerForKey("b"));
  EXPECT_EQ(store.integerForKey("c"), INT64_MAX);
  EXPECT_EQ(store.integerForKey("d"), INT64_MIN);
  auto e = store.dictionaryForKey("e");
  ASSERT_TRUE(e);
  EXPECT_FALSE((*e)["x"].asInt());
  EXPECT_EQ((*e)["y"].asInt(), 1);
}

TEST(JsonFileUserDefaults, TwoThreadsWritingLoseNothing) {
  TempDir dir;
  const std::string path = (dir.path() / "d.json").string();
  {
    JsonFileUserDefaults store(path);
    std::thread a([&] {
      for (int i = 0; i < 100; ++i) store.setInteger("a" + std::to_string(i), i);
    });
    std::thread b([&] {
      for (int i = 0; i < 100; ++i) store.setInteger("b" + std::to_string(i), -i);
    });
    a.join();
    b.join();
  }
  JsonFileUserDefaults reopened(path);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(reopened.integerForKey("a" + std::to_string(i)), i);
    EXPECT_EQ(reopened.integerForKey("b" + std::to_string(i)), -i);
  }
}

TEST(UserDirectories, ReadsTheDocumentsFolderFromUserDirs) {
  const std::string text =
      "# written by xdg-user-dirs-update\n"
      "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
      "XDG_MUSIC_DIR=\"/srv/music\"\n";
  EXPECT_EQ(UserDirectories::parseUserDirsFile(text, "XDG_DOCUMENTS_DIR", "/home/ana"),
            "/home/ana/Dokumente");
  EXPECT_EQ(UserDirectories::parseUserDirsFile(text, "XDG_MUSIC_DIR", "/home/ana"), "/srv/music");
  EXPECT_EQ(UserDirectories::parseUserDirsFile(text, "XDG_VIDEOS_DIR", "/home/ana"), "");
  EXPECT_EQ(UserDirectories::parseUserDirsFile("XDG_DOCUMENTS_DIR=\"relative\"\n",
                                               "XDG_DOCUMENTS_DIR", "/h"),
            "");

  TempDir dir;
  fs::create_directories(dir.path() / "config");
  std::ofstream(dir.path() / "config" / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n";
  setenv("HOME", dir.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
  EXPECT_EQ(UserDirectories::documents(), (dir.path() / "Docs").string());
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(UserDirectories::documents(), (dir.path() / "Documents").string());
  EXPECT_EQ(UserDirectories::config(), (dir.path() / ".config").string());
}

TEST(UserDirectories, DataHomeFollowsXdgDataHomeElseLocalShare) {
  TempDir dir;
  setenv("HOME", dir.path().c_str(), 1);
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(UserDirectories::dataHome(), "/srv/data");
  setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(UserDirectories::dataHome(), (dir.path() / ".local/share").string());
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(UserDirectories::dataHome(), (dir.path() / ".local/share").string());
}

}  // namespace
}  // namespace vistrelle
