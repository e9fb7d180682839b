#pragma once

#include <cstddef>
#include <string_view>

namespace vistrelle {

// Whether a JSON text opens more than `limit` arrays and objects inside each
// other (brackets inside strings not counted).  Run before parsing untrusted
// text, so that no value that deep is ever built: the parser and every later
// walk of the value recurse once per level.
bool jsonNestsDeeperThan(std::string_view text, std::size_t limit);

}  // namespace vistrelle
