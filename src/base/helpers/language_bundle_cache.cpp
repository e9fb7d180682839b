#include "base/helpers/language_bundle_cache.h"

#include "base/helpers/embedded_language_tables.h"

namespace vistrelle::base {

std::shared_ptr<const LocalizedTextTable> loadEmbeddedLanguageTable(Language language) {
  const auto json = embeddedLanguageTable(rawValue(language));
  if (!json) return nullptr;
  return std::make_shared<const LocalizedTextTable>(LocalizedTextTable::fromJson(*json));
}

LanguageBundleCache::LanguageBundleCache(LanguageTableLoader loader) : loader_(std::move(loader)) {}

LanguageBundleCache& LanguageBundleCache::shared() {
  static LanguageBundleCache cache(loadEmbeddedLanguageTable);
  return cache;
}

std::shared_ptr<const LocalizedTextTable> LanguageBundleCache::bundleFor(Language language) {
  const std::string_view raw = rawValue(language);
  // Held across the load so that two threads never load the same table twice.
  std::lock_guard lock(mutex_);
  if (const auto hit = bundles_.find(raw); hit != bundles_.end()) return hit->second;
  auto bundle = loader_(language);
  if (bundle) bundles_.emplace(std::string(raw), bundle);
  return bundle;
}

}  // namespace vistrelle::base
