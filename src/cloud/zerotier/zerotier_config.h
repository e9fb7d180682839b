#pragma once

#include <string>

namespace vistrelle::cloud::zerotier {

// Where the local ZeroTier service listens and where it keeps its token.
// Production takes the build's defaults; tests point the address at a
// stand-in on loopback.
struct ZeroTierConfig {
  std::string baseURL;           // "http://127.0.0.1:9993"
  std::string serviceTokenPath;  // "/var/lib/zerotier-one/authtoken.secret"

  // The values the build was configured with (VISTRELLE_ZEROTIER_* cache
  // variables).
  static ZeroTierConfig defaults();
};

}  // namespace vistrelle::cloud::zerotier
