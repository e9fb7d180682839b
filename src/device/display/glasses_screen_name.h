#pragma once

#include <string_view>

namespace vistrelle::device {

// A screen is the glasses when its name, lower-cased, holds "orvex" and not
// "monitor" (the glasses' second monitor calls itself that).
bool isGlassesScreenName(std::string_view name);

// Lower-case ASCII letters; other bytes as they are.
bool nameContains(std::string_view name, std::string_view lowerCaseWord);

}  // namespace vistrelle::device
