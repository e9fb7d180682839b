#include "cloud/http/orvex_request_url.h"

namespace vistrelle::cloud {

std::string rawValue(OrvexRequestUrl url, const ServiceConfig& config) {
  switch (url) {
    case OrvexRequestUrl::overseasRoot:
      return config.overseasRoot;
    case OrvexRequestUrl::domesticRoot:
      return config.domesticRoot;
    case OrvexRequestUrl::overseasApi:
      return config.overseasApi();
    case OrvexRequestUrl::domesticApi:
      return config.domesticApi();
    case OrvexRequestUrl::mobileCode:
      return "/api/admin/mobile/";
    case OrvexRequestUrl::mailCode:
      return "/api/admin/mail/";
    case OrvexRequestUrl::oauthToken:
      return "/api/auth/oauth2/token";
    case OrvexRequestUrl::userInfo:
      return "/api/admin/user/orvex/info";
    case OrvexRequestUrl::tokenLogout:
      return "/api/auth/token/logout";
    case OrvexRequestUrl::ztNetwork:
      return "/api/admin/ztNetwork";
    case OrvexRequestUrl::ztNetworkAuthorize:
      return "/api/admin/ztNetwork/authorize";
    case OrvexRequestUrl::ztNetworkDelete:
      return "/api/admin/ztNetwork/delete";
    case OrvexRequestUrl::appPublishLatest:
      return "/api/admin/appPublish/latest";
    case OrvexRequestUrl::adminPc:
      return "/api/admin/pc";
  }
  return {};
}

}  // namespace vistrelle::cloud
