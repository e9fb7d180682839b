#include "base/helpers/language_bundle.h"

namespace vistrelle::base {

LanguageBundle::LanguageBundle(const OrvexLocalizationHelper& helper, LanguageBundleCache& cache)
    : helper_(helper), cache_(cache) {}

const LanguageBundle& LanguageBundle::shared() {
  static const LanguageBundle bundle(OrvexLocalizationHelper::shared(),
                                     LanguageBundleCache::shared());
  return bundle;
}

std::string LanguageBundle::localizedStringForKey(std::string_view key,
                                                  std::optional<std::string_view> value,
                                                  std::optional<std::string_view> table) const {
  if (const auto bundle = cache_.bundleFor(helper_.language())) {
    if (const auto text = bundle->find(key, table)) return std::string(*text);
  }
  return untranslated(key, value);
}

std::string LanguageBundle::untranslated(std::string_view key,
                                         std::optional<std::string_view> value) {
  if (value && !value->empty()) return std::string(*value);
  return std::string(key);
}

}  // namespace vistrelle::base
