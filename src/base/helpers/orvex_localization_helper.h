#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/helpers/language.h"
#include "base/helpers/locale_environment.h"

namespace vistrelle::base {

// Access to the language code kept under "DefaultUserSettings" in the
// user-defaults store.  The code is stored as plain text ("zh-Hans" or "en");
// anything else found there is ignored, never interpreted.
struct StoredLanguageAccess {
  std::function<std::optional<std::string>()> read = nullptr;
  std::function<void(const std::string& code)> write = nullptr;
};

// Holds the in-app language that every localized text lookup follows.
class OrvexLocalizationHelper {
 public:
  static constexpr std::string_view kSettingsKey = "DefaultUserSettings";

  // The stored language when the store names one, otherwise the system
  // language of env.
  OrvexLocalizationHelper(StoredLanguageAccess store, const EnvironmentLookup& env);

  OrvexLocalizationHelper(const OrvexLocalizationHelper&) = delete;
  OrvexLocalizationHelper& operator=(const OrvexLocalizationHelper&) = delete;

  // The shared helper, created on first use (once, thread-safe) from the
  // store given to configureShared() and the process environment.
  static OrvexLocalizationHelper& shared();

  // Sets the store the shared helper is created from.  Must come before the
  // first shared(); throws std::logic_error afterwards, because the helper
  // would already have decided its language without it.
  static void configureShared(StoredLanguageAccess store);

  // Chinese when the first preferred language begins with "zh-Hans",
  // otherwise English (also when there is no preferred language).
  static Language systemLanguage(const EnvironmentLookup& env);

  Language language() const { return language_.load(std::memory_order_acquire); }

  // Changes the language for the following lookups; nothing is stored.
  void setLanguage(Language language) { language_.store(language, std::memory_order_release); }

  // Writes the current language code to the store; throws std::logic_error
  // when the helper has no way to write it.
  void saveLanguage() const;

 private:
  StoredLanguageAccess store_;
  std::atomic<Language> language_;
};

}  // namespace vistrelle::base
