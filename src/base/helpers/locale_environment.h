#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrelle::base {

// Reads one environment variable; injected so that tests never depend on the
// locale of the machine they run on.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The process environment.
EnvironmentLookup processEnvironment();

// The locale that governs messages: LC_ALL, else LC_MESSAGES, else LANG.  An
// empty variable counts as unset, as it does for the C library.
std::optional<std::string> messagesLocale(const EnvironmentLookup& env);

// A locale name without its ".codeset" and "@modifier" parts:
// "zh_CN.UTF-8" -> "zh_CN", "sr_RS@latin" -> "sr_RS".
std::string stripCodesetAndModifier(std::string_view locale);

// The user's preferred languages, most preferred first: the colon-separated
// LANGUAGE list when it has an entry, else the messages locale.  Entries are
// written as language tags: Simplified Chinese locales (zh_CN, zh_SG, zh_Hans*)
// become "zh-Hans..." tags ("zh-Hans-CN"); every other entry keeps its name
// with the codeset and modifier stripped and "_" written as "-".
std::vector<std::string> preferredLanguages(const EnvironmentLookup& env);

}  // namespace vistrelle::base
