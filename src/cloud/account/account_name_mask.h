#pragma once

#include <string>
#include <string_view>

namespace vistrelle::cloud {

// An account name as the session shows it: a mainland mobile number keeps
// its first 3 and last 4 digits around "****", an e-mail address its first
// character, "****" and "@" with the whole domain; anything else is shown as
// it is.  Slices by characters, never inside one.
std::string maskAccountName(std::string_view text);

}  // namespace vistrelle::cloud
