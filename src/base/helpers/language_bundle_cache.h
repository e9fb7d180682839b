#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "base/helpers/language.h"
#include "base/helpers/localized_text_table.h"

namespace vistrelle::base {

// Loads the text table of a language; null when the application carries none.
using LanguageTableLoader = std::function<std::shared_ptr<const LocalizedTextTable>(Language)>;

// The table compiled into the application for a language, or null.  Throws
// std::invalid_argument when a compiled-in table is malformed.
std::shared_ptr<const LocalizedTextTable> loadEmbeddedLanguageTable(Language language);

// Language tables by raw value, loaded on first use and kept for the life of
// the cache.  Lookups come from any thread that builds a localized text.
class LanguageBundleCache {
 public:
  explicit LanguageBundleCache(LanguageTableLoader loader);

  // The process-wide cache over the compiled-in tables.
  static LanguageBundleCache& shared();

  // The cached table, else the loaded one (then cached); null when the
  // language has no table, in which case nothing is cached and the next call
  // asks the loader again.
  std::shared_ptr<const LocalizedTextTable> bundleFor(Language language);

 private:
  LanguageTableLoader loader_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const LocalizedTextTable>, std::less<>> bundles_;
};

}  // namespace vistrelle::base
