#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "base/helpers/locale_environment.h"

namespace vistrelle::base::testing {

// An environment holding exactly the given variables.
inline EnvironmentLookup fakeEnvironment(std::map<std::string, std::string, std::less<>> vars) {
  return [vars = std::move(vars)](std::string_view name) -> std::optional<std::string> {
    const auto found = vars.find(name);
    if (found == vars.end()) return std::nullopt;
    return found->second;
  };
}

}  // namespace vistrelle::base::testing
