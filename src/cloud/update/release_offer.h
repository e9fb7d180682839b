#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cloud/http/reply_envelope.h"

namespace vistrelle::cloud {

// A newer build the service offers.
struct ReleaseOffer {
  std::string version;
  std::string releaseNote;  // may be empty
  // The API base followed directly by the reply's "downloadUrl".
  std::string packageUrl;
  // The package's SHA-256 as the reply states it, lower-cased.  Not stated:
  // none.  A value that is not 64 hexadecimal digits is kept as it is, so
  // that no package matches it.
  std::optional<std::string> sha256;
};

// The version this build compares with the service's: `version`, or
// "1.0.0.0" when it is empty.
std::string effectiveLocalVersion(std::string_view version);

// The offer in a reply of the latest-release route: there is one when the
// flag is true, "data" is an object whose "version" text orders strictly
// after `localVersion` (runs of digits compare as numbers) and whose
// "downloadUrl" is a non-empty text.  None otherwise.
std::optional<ReleaseOffer> releaseOfferFrom(const ReplyEnvelope& envelope,
                                             std::string_view localVersion,
                                             std::string_view apiBase);

}  // namespace vistrelle::cloud
