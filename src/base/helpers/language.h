#pragma once

#include <optional>
#include <string_view>

namespace vistrelle::base {

// The in-app interface language; the raw values name the text tables.
enum class Language { Chinese, English };

// "zh-Hans" or "en".
std::string_view rawValue(Language language);

// "zh-Hans" -> Chinese, "en" -> English, anything else -> none.
std::optional<Language> languageFromRawValue(std::string_view raw);

}  // namespace vistrelle::base
