#include "cloud/http/request_headers.h"

#include <strings.h>
#include <array>

#include "base/helpers/base64_addition.h"

namespace vistrelle::cloud {

namespace {

bool contains(std::string_view text, std::string_view fragment) {
  return text.find(fragment) != std::string_view::npos;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

constexpr std::string_view kForm = "application/x-www-form-urlencoded";
constexpr std::string_view kJson = "application/json";

std::string bearer(std::string_view accessToken) {
  return "Bearer " + std::string(accessToken);
}

}  // namespace

bool isTokenPath(std::string_view url) {
  return contains(url, kTokenPathFragment);
}

bool isTokenRequired(std::string_view url) {
  // The last two belong to no address the application builds.
  static constexpr std::array<std::string_view, 6> kPublic = {
      "/api/admin/mobile/",           "/api/admin/mail/", "/api/auth/oauth2/token",
      "/api/admin/appPublish/latest", "/user/dologin",    "/user/sendloginSms",
  };
  for (std::string_view fragment : kPublic) {
    if (contains(url, fragment)) return false;
  }
  return true;
}

HttpHeaders headers(std::string_view url, std::string_view accessToken,
                    std::string_view clientCredential) {
  if (contains(url, "/api/auth/oauth2/token")) {
    return {{std::string(kContentTypeHeader), std::string(kForm)},
            {std::string(kAuthorizationHeader), "Basic " + base::base64String(clientCredential)}};
  }
  // "/api/admin/ztNetwork" already covers its two longer neighbours.
  static constexpr std::array<std::string_view, 4> kJsonBearer = {
      "/api/admin/ztNetwork", "/api/admin/ztNetwork/authorize", "/api/admin/pc",
      "/api/admin/ztNetwork/delete"};
  for (std::string_view fragment : kJsonBearer) {
    if (contains(url, fragment)) {
      return {{std::string(kContentTypeHeader), std::string(kJson)},
              {std::string(kAuthorizationHeader), bearer(accessToken)}};
    }
  }
  if (contains(url, "/api/auth/token/logout")) {
    return {{std::string(kContentTypeHeader), std::string(kForm)},
            {std::string(kAuthorizationHeader), bearer(accessToken)}};
  }
  if (contains(url, "/api/admin/user/orvex/info")) {
    return {{std::string(kAuthorizationHeader), bearer(accessToken)}};
  }
  return {};
}

HttpHeaders uploadHeaders(std::string_view token) {
  return {{std::string(kUploadTokenHeader), std::string(token)},
          {std::string(kContentTypeHeader), "application/octet-stream"}};
}

std::optional<std::string> headerValue(const HttpHeaders& headers, std::string_view name) {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

bool isCredentialHeader(std::string_view name) {
  return equalsIgnoringCase(name, kAuthorizationHeader);
}

}  // namespace vistrelle::cloud
