#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/helpers/language_bundle_cache.h"
#include "base/helpers/orvex_localization_helper.h"

namespace vistrelle::base {

// Text lookup that follows the in-app language instead of the system's: the
// texts come from the table of the helper's current language.
class LanguageBundle {
 public:
  LanguageBundle(const OrvexLocalizationHelper& helper, LanguageBundleCache& cache);

  // The lookup over the shared helper and the shared table cache.
  static const LanguageBundle& shared();

  // The translation of key in the current language's table; without such a
  // table, or without the key in it, the untranslated lookup.
  std::string localizedStringForKey(std::string_view key,
                                    std::optional<std::string_view> value = std::nullopt,
                                    std::optional<std::string_view> table = std::nullopt) const;

  // The lookup without any language table: the texts are written in the code
  // in Chinese, so the key is the text (value when one is given).
  static std::string untranslated(std::string_view key, std::optional<std::string_view> value);

 private:
  const OrvexLocalizationHelper& helper_;
  LanguageBundleCache& cache_;
};

}  // namespace vistrelle::base
