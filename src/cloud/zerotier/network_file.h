#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloud/zerotier/network.h"

namespace vistrelle::cloud::zerotier {

// The saved network list, "networkinfo.dat": a JSON array of objects with
// the archive keys ("addresses", "broadcast", "netconf", "port", ...; "nwid"
// an unsigned 64-bit number), 0600, replaced atomically.
class NetworkFile {
 public:
  // Larger files are taken for corrupt.
  static constexpr size_t kMaxBytes = size_t{16} << 20;

  static std::string encode(const std::vector<Network>& networks);
  // None when the text is not a JSON array; elements that are not valid
  // networks are skipped.
  static std::optional<std::vector<Network>> decode(std::string_view text);

  // None when the file is absent, unreadable or corrupt.
  static std::optional<std::vector<Network>> read(const std::string& path);
  // Creates the folder (0700) when needed.  False with the reason otherwise.
  static bool write(const std::string& path, const std::vector<Network>& networks,
                    std::string* error);
};

}  // namespace vistrelle::cloud::zerotier
