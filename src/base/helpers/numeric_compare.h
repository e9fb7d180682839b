#pragma once

#include <compare>
#include <string_view>

namespace vistrelle::base {

// Orders texts such as version tags: runs of ASCII digits compare as numbers
// of any length ("V1.9" < "V1.63", "1.0.10" > "1.0.9"), everything else byte
// by byte with no locale; a text that is a prefix of the other comes first.
// Runs that differ only in leading zeros compare equal.  "-" is an ordinary
// character, never a sign.
std::strong_ordering numericCompare(std::string_view left, std::string_view right);

}  // namespace vistrelle::base
