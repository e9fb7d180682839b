#pragma once

#include <optional>
#include <string_view>

namespace vistrelle::base {

// JSON text of the text table compiled in for a language raw value ("en"),
// or none when the application carries no table for it.
std::optional<std::string_view> embeddedLanguageTable(std::string_view rawValue);

}  // namespace vistrelle::base
