#pragma once

#include <optional>
#include <string>

namespace vistrelle::cloud {

// The SHA-256 of everything the open file holds, as 64 lower-case hex
// digits; none when a read fails.  Reads from offset 0 whatever the file's
// position, so one descriptor may be digested from any thread.
std::optional<std::string> sha256HexOfFile(int fd);

}  // namespace vistrelle::cloud
