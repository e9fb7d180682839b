#include "base/helpers/orvex_localization_helper.h"

#include <mutex>
#include <stdexcept>

namespace vistrelle::base {

namespace {

Language initialLanguage(const StoredLanguageAccess& store, const EnvironmentLookup& env) {
  if (store.read) {
    if (const auto code = store.read()) {
      if (const auto stored = languageFromRawValue(*code)) return *stored;
    }
  }
  return OrvexLocalizationHelper::systemLanguage(env);
}

// What the shared helper is created from, and whether it already was.
struct SharedSetup {
  std::mutex mutex;
  StoredLanguageAccess store;
  bool created = false;
};

SharedSetup& sharedSetup() {
  static SharedSetup setup;
  return setup;
}

}  // namespace

OrvexLocalizationHelper::OrvexLocalizationHelper(StoredLanguageAccess store,
                                                 const EnvironmentLookup& env)
    : store_(std::move(store)), language_(initialLanguage(store_, env)) {}

OrvexLocalizationHelper& OrvexLocalizationHelper::shared() {
  static OrvexLocalizationHelper helper = [] {
    SharedSetup& setup = sharedSetup();
    std::lock_guard lock(setup.mutex);
    setup.created = true;
    return OrvexLocalizationHelper(setup.store, processEnvironment());
  }();
  return helper;
}

void OrvexLocalizationHelper::configureShared(StoredLanguageAccess store) {
  SharedSetup& setup = sharedSetup();
  std::lock_guard lock(setup.mutex);
  if (setup.created) {
    throw std::logic_error("the shared localization helper already exists");
  }
  setup.store = std::move(store);
}

Language OrvexLocalizationHelper::systemLanguage(const EnvironmentLookup& env) {
  const auto languages = preferredLanguages(env);
  if (!languages.empty() && languages.front().starts_with("zh-Hans")) return Language::Chinese;
  return Language::English;
}

void OrvexLocalizationHelper::saveLanguage() const {
  if (!store_.write) throw std::logic_error("no store to save the language to");
  store_.write(std::string(rawValue(language())));
}

}  // namespace vistrelle::base
