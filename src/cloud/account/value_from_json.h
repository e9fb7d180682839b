#pragma once

#include <nlohmann/json.hpp>

#include "platform/value/value.h"

namespace vistrelle::cloud {

// A service reply as the settings store keeps it.  Integers beyond the
// signed 64-bit range, which the store cannot hold, become null.
Value valueFromJson(const nlohmann::json& json);

}  // namespace vistrelle::cloud
