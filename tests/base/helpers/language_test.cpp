#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/helpers/fake_environment.h"
#include "base/helpers/language.h"
#include "base/helpers/language_bundle.h"
#include "base/helpers/language_bundle_cache.h"
#include "base/helpers/locale_environment.h"
#include "base/helpers/orvex_localization_helper.h"

namespace vistrelle::base {
namespace {

using testing::fakeEnvironment;
using Env = std::map<std::string, std::string, std::less<>>;

TEST(Language, RawValuesRoundTrip) {
  EXPECT_EQ(rawValue(Language::Chinese), "zh-Hans");
  EXPECT_EQ(rawValue(Language::English), "en");
  EXPECT_EQ(languageFromRawValue("zh-Hans"), Language::Chinese);
  EXPECT_EQ(languageFromRawValue("en"), Language::English);
  for (const char* other : {"", "zh", "zh-Hant", "EN", "en-US", "zh-Hans "}) {
    EXPECT_EQ(languageFromRawValue(other), std::nullopt) << other;
  }
}

TEST(PreferredLanguages, ComeFromLanguageListElseTheMessagesLocale) {
  EXPECT_THAT(preferredLanguages(
                  fakeEnvironment({{"LANGUAGE", "zh_CN:en_US:en"}, {"LANG", "de_DE.UTF-8"}})),
              ::testing::ElementsAre("zh-Hans-CN", "en-US", "en"));
  EXPECT_THAT(preferredLanguages(fakeEnvironment({{"LANGUAGE", ":fr::"}})),
              ::testing::ElementsAre("fr"));
  EXPECT_THAT(preferredLanguages(fakeEnvironment({{"LANGUAGE", ""}, {"LANG", "zh_TW.UTF-8"}})),
              ::testing::ElementsAre("zh-TW"));
  EXPECT_THAT(preferredLanguages(fakeEnvironment({{"LC_MESSAGES", "zh_SG.GBK"}})),
              ::testing::ElementsAre("zh-Hans-SG"));
  EXPECT_THAT(preferredLanguages(fakeEnvironment({})), ::testing::IsEmpty());
}

struct SystemLanguageCase {
  Env env;
  Language expected;
};

class SystemLanguageTest : public ::testing::TestWithParam<SystemLanguageCase> {};

TEST_P(SystemLanguageTest, ChineseOnlyForSimplifiedChineseFirst) {
  EXPECT_EQ(OrvexLocalizationHelper::systemLanguage(fakeEnvironment(GetParam().env)),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, SystemLanguageTest,
    ::testing::Values(
        SystemLanguageCase{{{"LANG", "zh_CN.UTF-8"}}, Language::Chinese},
        SystemLanguageCase{{{"LANG", "zh_SG"}}, Language::Chinese},
        SystemLanguageCase{{{"LANG", "zh_Hans_HK"}}, Language::Chinese},
        SystemLanguageCase{{{"LANGUAGE", "zh-Hans"}}, Language::Chinese},
        SystemLanguageCase{{{"LANG", "zh_TW.UTF-8"}}, Language::English},
        SystemLanguageCase{{{"LANG", "zh_HK"}}, Language::English},
        SystemLanguageCase{{{"LANG", "zh"}}, Language::English},
        SystemLanguageCase{{{"LANG", "en_US.UTF-8"}}, Language::English},
        SystemLanguageCase{{}, Language::English},
        // Only the first preferred language counts.
        SystemLanguageCase{{{"LANGUAGE", "en_US:zh_CN"}, {"LANG", "zh_CN"}}, Language::English},
        SystemLanguageCase{{{"LANGUAGE", "zh_CN:en"}, {"LANG", "en_US"}}, Language::Chinese},
        SystemLanguageCase{{{"LC_ALL", "zh_CN.UTF-8"}, {"LANG", "en_US"}}, Language::Chinese}));

TEST(OrvexLocalizationHelper, StoredCodeWinsOverTheSystemLanguage) {
  const auto chineseSystem = fakeEnvironment({{"LANG", "zh_CN.UTF-8"}});
  const OrvexLocalizationHelper helper({.read = [] { return std::optional<std::string>("en"); }},
                                       chineseSystem);
  EXPECT_EQ(helper.language(), Language::English);
}

TEST(OrvexLocalizationHelper, IgnoresAnythingButALanguageCode) {
  const auto chineseSystem = fakeEnvironment({{"LANG", "zh_CN.UTF-8"}});
  // An archived object graph as an older build stored it is not read.
  for (const std::optional<std::string>& stored :
       {std::optional<std::string>(std::string("bplist00\xd4\x01\x02\x03", 12)),
        std::optional<std::string>("English"), std::optional<std::string>(""),
        std::optional<std::string>()}) {
    const OrvexLocalizationHelper helper({.read = [stored] { return stored; }}, chineseSystem);
    EXPECT_EQ(helper.language(), Language::Chinese);
  }
  const OrvexLocalizationHelper withoutStore({}, chineseSystem);
  EXPECT_EQ(withoutStore.language(), Language::Chinese);
}

TEST(OrvexLocalizationHelper, SavesOnlyWhenAsked) {
  std::vector<std::string> writes;
  OrvexLocalizationHelper helper(
      {.read = [] { return std::optional<std::string>(); },
       .write = [&writes](const std::string& code) { writes.push_back(code); }},
      fakeEnvironment({{"LANG", "zh_CN"}}));
  helper.setLanguage(Language::English);
  EXPECT_EQ(helper.language(), Language::English);
  EXPECT_THAT(writes, ::testing::IsEmpty());
  helper.saveLanguage();
  EXPECT_THAT(writes, ::testing::ElementsAre("en"));

  const OrvexLocalizationHelper readOnly({}, fakeEnvironment({}));
  EXPECT_THROW(readOnly.saveLanguage(), std::logic_error);
}

TEST(OrvexLocalizationHelper, SharedHelperIsCreatedOnceFromTheConfiguredStore) {
  int reads = 0;
  OrvexLocalizationHelper::configureShared({.read = [&reads] {
    ++reads;
    return std::optional<std::string>("zh-Hans");
  }});
  std::vector<std::thread> threads;
  std::atomic<OrvexLocalizationHelper*> seen[4] = {};
  for (auto& slot : seen) {
    threads.emplace_back([&slot] { slot = &OrvexLocalizationHelper::shared(); });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& slot : seen) EXPECT_EQ(slot.load(), &OrvexLocalizationHelper::shared());
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(OrvexLocalizationHelper::shared().language(), Language::Chinese);
  EXPECT_THROW(OrvexLocalizationHelper::configureShared({}), std::logic_error);
}

// A loader that counts its calls and has a table for English only.
struct CountingLoader {
  std::shared_ptr<std::atomic<int>> loads = std::make_shared<std::atomic<int>>(0);

  LanguageTableLoader loader() const {
    return [loads = loads](Language language) -> std::shared_ptr<const LocalizedTextTable> {
      ++*loads;
      if (language != Language::English) return nullptr;
      return std::make_shared<const LocalizedTextTable>(
          LocalizedTextTable::Tables{{"Localizable", {{"取消", "Cancel"}, {"重试", "Retry"}}},
                                     {"Menu", {{"取消", "Dismiss"}}}});
    };
  }
};

TEST(LanguageBundleCache, SecondLookupLoadsNothing) {
  CountingLoader counting;
  LanguageBundleCache cache(counting.loader());
  const auto first = cache.bundleFor(Language::English);
  const auto second = cache.bundleFor(Language::English);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(*counting.loads, 1);
}

TEST(LanguageBundleCache, MissingTableIsNotCached) {
  CountingLoader counting;
  LanguageBundleCache cache(counting.loader());
  EXPECT_EQ(cache.bundleFor(Language::Chinese), nullptr);
  EXPECT_EQ(cache.bundleFor(Language::Chinese), nullptr);
  EXPECT_EQ(*counting.loads, 2);
}

TEST(LanguageBundleCache, ConcurrentFirstLookupsLoadOnce) {
  CountingLoader counting;
  LanguageBundleCache cache(counting.loader());
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&cache] { cache.bundleFor(Language::English); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(*counting.loads, 1);
}

TEST(LanguageBundle, LooksUpTheHelpersCurrentLanguage) {
  CountingLoader counting;
  LanguageBundleCache cache(counting.loader());
  OrvexLocalizationHelper helper({}, fakeEnvironment({{"LANG", "zh_CN"}}));
  const LanguageBundle bundle(helper, cache);

  // Chinese has no table: the key, which is the Chinese text, is the text.
  EXPECT_EQ(bundle.localizedStringForKey("取消"), "取消");
  helper.setLanguage(Language::English);
  EXPECT_EQ(bundle.localizedStringForKey("取消"), "Cancel");
  EXPECT_EQ(bundle.localizedStringForKey("取消", std::nullopt, "Menu"), "Dismiss");
  EXPECT_EQ(bundle.localizedStringForKey("重试", std::nullopt, ""), "Retry");
}

TEST(LanguageBundle, FallsBackToTheUntranslatedLookup) {
  CountingLoader counting;
  LanguageBundleCache cache(counting.loader());
  const OrvexLocalizationHelper helper({.read = [] { return std::optional<std::string>("en"); }},
                                       fakeEnvironment({}));
  const LanguageBundle bundle(helper, cache);
  EXPECT_EQ(bundle.localizedStringForKey("未知"), "未知");
  EXPECT_EQ(bundle.localizedStringForKey("未知", "default"), "default");
  EXPECT_EQ(bundle.localizedStringForKey("未知", ""), "未知");
  EXPECT_EQ(bundle.localizedStringForKey("重试", std::nullopt, "Menu"), "重试");
  EXPECT_EQ(bundle.localizedStringForKey("重试", std::nullopt, "NoSuchTable"), "重试");
}

TEST(LocalizedTextTable, RejectsMalformedJson) {
  for (const char* json : {"", "[]", R"({"Localizable": []})", R"({"Localizable": {"a": 1}})",
                           R"({"Localizable": {"a": "b")"}) {
    EXPECT_THROW(LocalizedTextTable::fromJson(json), std::invalid_argument) << json;
  }
  const auto table = LocalizedTextTable::fromJson(R"({"Localizable": {"取消": "Cancel"}})");
  EXPECT_EQ(table.find("取消"), "Cancel");
  EXPECT_EQ(table.find("重试"), std::nullopt);
}

// The conversions of a printf or platform format text, in order.
std::vector<std::string> formatSpecifiers(const std::string& text) {
  static const std::regex specifier(R"(%(?:%|[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|z)?[@dsfuxXc]))");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), specifier);
       it != std::sregex_iterator(); ++it) {
    found.push_back(it->str());
  }
  return found;
}

bool hasHanCharacter(std::string_view text) {
  // U+3000..U+9FFF and the full-width forms are three-byte sequences led by
  // E3..E9 or EF BC/BD.
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const auto next = static_cast<unsigned char>(text[i + 1]);
    if (lead >= 0xE3 && lead <= 0xE9) return true;
    if (lead == 0xEF && (next == 0xBC || next == 0xBD)) return true;
  }
  return false;
}

TEST(EnglishTable, TranslatesEveryKeyKeepingItsFormat) {
  const auto table = loadEmbeddedLanguageTable(Language::English);
  ASSERT_NE(table, nullptr);
  const auto& texts = table->tables().at("Localizable");
  EXPECT_GE(texts.size(), 121u);
  for (const auto& [key, text] : texts) {
    // The calibration button's images are named through the table as well:
    // their keys are image names, the English ones the English images.
    if (key.starts_with("jiaozhengpingmu")) {
      EXPECT_EQ(text, key + "_en");
      continue;
    }
    EXPECT_TRUE(hasHanCharacter(key)) << "key without Chinese text: " << key;
    EXPECT_FALSE(text.empty()) << key;
    EXPECT_FALSE(hasHanCharacter(text)) << "untranslated: " << key << " -> " << text;
    EXPECT_EQ(formatSpecifiers(key), formatSpecifiers(text)) << key << " -> " << text;
    EXPECT_EQ(key.starts_with('\n'), text.starts_with('\n')) << key;
  }
  EXPECT_EQ(loadEmbeddedLanguageTable(Language::Chinese), nullptr);
}

TEST(EnglishTable, CompiledInTableIsTheSourceFile) {
  const char* source = VISTRELLE_EN_TABLE_SOURCE;
  std::ifstream file(source);
  ASSERT_TRUE(file) << source;
  std::ostringstream json;
  json << file.rdbuf();
  const auto compiled = loadEmbeddedLanguageTable(Language::English);
  ASSERT_NE(compiled, nullptr);
  EXPECT_EQ(compiled->tables(), LocalizedTextTable::fromJson(json.str()).tables());
}

TEST(EnglishTable, SharedBundleTranslatesTheApplicationsTexts) {
  LanguageBundleCache& cache = LanguageBundleCache::shared();
  OrvexLocalizationHelper helper({.read = [] { return std::optional<std::string>("en"); }},
                                 fakeEnvironment({}));
  const LanguageBundle bundle(helper, cache);
  EXPECT_EQ(bundle.localizedStringForKey("安装"), "Install");
  EXPECT_EQ(bundle.localizedStringForKey("将眼镜摘下\n平放在桌上并保持静止"),
            "Take off the glasses,\nlay them flat on a table and keep them still");
  EXPECT_EQ(bundle.localizedStringForKey("无法转JSON"), "Cannot convert to JSON");
}

}  // namespace
}  // namespace vistrelle::base
