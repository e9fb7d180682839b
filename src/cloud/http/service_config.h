#pragma once

#include <string>

namespace vistrelle::cloud {

// Where the account-and-update service lives and how the application names
// itself to it.  Production takes the build's defaults; tests point both
// roots at a stand-in on loopback.
struct ServiceConfig {
  std::string overseasRoot;  // web root without a path, e.g. "https://host"
  std::string domesticRoot;
  // The OAuth2 client credential, "id:secret".  Sent only inside the token
  // request's Basic authorisation; never logged.
  std::string clientCredential;

  // The API bases: the web root + "/api".
  std::string overseasApi() const { return overseasRoot + "/api"; }
  std::string domesticApi() const { return domesticRoot + "/api"; }

  const std::string& root(bool overseas) const { return overseas ? overseasRoot : domesticRoot; }
  std::string api(bool overseas) const { return overseas ? overseasApi() : domesticApi(); }

  // The values the build was configured with (VISTRELLE_SERVICE_* cache
  // variables).
  static ServiceConfig defaults();
};

}  // namespace vistrelle::cloud
