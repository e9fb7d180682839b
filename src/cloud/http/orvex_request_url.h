#pragma once

#include <array>
#include <string>

#include "cloud/http/service_config.h"

namespace vistrelle::cloud {

// The service's addresses, in the table's order.  The four roots and bases
// come from the deployment; the paths are relative to a web root.
enum class OrvexRequestUrl {
  overseasRoot,
  domesticRoot,
  overseasApi,
  domesticApi,
  mobileCode,  // the phone number is appended
  mailCode,    // the e-mail address is appended
  oauthToken,
  userInfo,
  tokenLogout,
  ztNetwork,
  ztNetworkAuthorize,
  ztNetworkDelete,
  appPublishLatest,
  adminPc,
};

inline constexpr std::array<OrvexRequestUrl, 14> kAllOrvexRequestUrls = {
    OrvexRequestUrl::overseasRoot,       OrvexRequestUrl::domesticRoot,
    OrvexRequestUrl::overseasApi,        OrvexRequestUrl::domesticApi,
    OrvexRequestUrl::mobileCode,         OrvexRequestUrl::mailCode,
    OrvexRequestUrl::oauthToken,         OrvexRequestUrl::userInfo,
    OrvexRequestUrl::tokenLogout,        OrvexRequestUrl::ztNetwork,
    OrvexRequestUrl::ztNetworkAuthorize, OrvexRequestUrl::ztNetworkDelete,
    OrvexRequestUrl::appPublishLatest,   OrvexRequestUrl::adminPc,
};

// The text of an entry: a root or API base of `config`, or a path.
std::string rawValue(OrvexRequestUrl url, const ServiceConfig& config);

}  // namespace vistrelle::cloud
