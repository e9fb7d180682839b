#include "base/helpers/locale_environment.h"

#include <cstdlib>

namespace vistrelle::base {

namespace {

std::optional<std::string> nonEmpty(const EnvironmentLookup& env, std::string_view name) {
  auto value = env(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

std::vector<std::string> splitAny(std::string_view text, std::string_view separators) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find_first_of(separators, start);
    parts.emplace_back(text.substr(start, end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

// One locale or LANGUAGE entry as a language tag.
std::string toLanguageTag(std::string_view entry) {
  const std::string name = stripCodesetAndModifier(entry);
  const std::vector<std::string> parts = splitAny(name, "_-");
  std::string tag;
  if (parts.size() >= 2 && parts[0] == "zh" &&
      (parts[1] == "Hans" || parts[1] == "CN" || parts[1] == "SG")) {
    tag = "zh-Hans";
    for (std::size_t i = parts[1] == "Hans" ? 2 : 1; i < parts.size(); ++i) tag += "-" + parts[i];
    return tag;
  }
  for (const std::string& part : parts) {
    if (!tag.empty()) tag += "-";
    tag += part;
  }
  return tag;
}

}  // namespace

EnvironmentLookup processEnvironment() {
  return [](std::string_view name) -> std::optional<std::string> {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
}

std::optional<std::string> messagesLocale(const EnvironmentLookup& env) {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = nonEmpty(env, name)) return value;
  }
  return std::nullopt;
}

std::string stripCodesetAndModifier(std::string_view locale) {
  return std::string(locale.substr(0, locale.find_first_of(".@")));
}

std::vector<std::string> preferredLanguages(const EnvironmentLookup& env) {
  std::vector<std::string> languages;
  if (auto list = nonEmpty(env, "LANGUAGE")) {
    for (const std::string& entry : splitAny(*list, ":")) {
      if (!entry.empty()) languages.push_back(toLanguageTag(entry));
    }
  }
  if (languages.empty()) {
    if (auto locale = messagesLocale(env)) languages.push_back(toLanguageTag(*locale));
  }
  return languages;
}

}  // namespace vistrelle::base
