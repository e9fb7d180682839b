#pragma once

#include <string_view>

namespace vistrelle::base {

// Whether bytes are well-formed UTF-8 (no overlong forms, surrogates or values
// above U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace vistrelle::base
