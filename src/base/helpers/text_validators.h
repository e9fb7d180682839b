#pragma once

#include <string_view>

namespace vistrelle::base {

// An 11-digit mainland mobile number: "1" and ten more digits (any Unicode
// decimal digits, as the platform's "\d" meant).
bool isPhoneNumber(std::string_view text);

// A plain ASCII e-mail address: local part, "@", domain with a top-level part
// of two letters or more.
bool isEmail(std::string_view text);

// An e-mail address that may carry Unicode letters, marks and digits in the
// local part and the domain labels.
bool isValidEmailUnicode(std::string_view text);

// isPhoneNumber, else isEmail.
bool isPhoneOrEmail(std::string_view text);

// Whether pattern matches the whole text; throws std::invalid_argument for a
// pattern that does not compile.
bool matchesRegex(std::string_view text, std::string_view pattern);

}  // namespace vistrelle::base
