#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vistrelle::cloud::zerotier {

// Files only their owner may read: the copy of the service's token and the
// saved network list.  Written whole or not at all.
class PrivateFile {
 public:
  // Creates `folder` (and missing parents) and makes it 0700 even when it
  // existed with a wider mode.  False with the reason otherwise.
  static bool makeFolder(const std::string& folder, std::string* error);

  // Writes `bytes` to a temporary file beside `path` (0600), flushes it to
  // the disk and renames it over `path`.  The folder must exist.  On failure
  // `path` is as it was and the reason is in `error`.
  static bool writeAtomically(const std::string& path, std::string_view bytes, std::string* error);

  // The whole file, when it exists, is readable and holds at most
  // `maxBytes`; none otherwise (the reason in `error`, "" when it is absent).
  static std::optional<std::string> read(const std::string& path, size_t maxBytes,
                                         std::string* error);
};

}  // namespace vistrelle::cloud::zerotier
