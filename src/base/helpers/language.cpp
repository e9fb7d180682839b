#include "base/helpers/language.h"

namespace vistrelle::base {

namespace {
constexpr std::string_view kChineseRaw = "zh-Hans";
constexpr std::string_view kEnglishRaw = "en";
}  // namespace

std::string_view rawValue(Language language) {
  return language == Language::Chinese ? kChineseRaw : kEnglishRaw;
}

std::optional<Language> languageFromRawValue(std::string_view raw) {
  if (raw == kChineseRaw) return Language::Chinese;
  if (raw == kEnglishRaw) return Language::English;
  return std::nullopt;
}

}  // namespace vistrelle::base
