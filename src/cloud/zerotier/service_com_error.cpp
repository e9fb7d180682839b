#include "cloud/zerotier/service_com_error.h"

#include "base/helpers/language_bundle.h"

namespace vistrelle::cloud::zerotier {

ServiceComError::ServiceComError(Kind kind, std::string_view domain, long code,
                                 std::string description)
    : kind_(kind), domain_(domain), code_(code), description_(std::move(description)) {}

ServiceComError ServiceComError::authorization(std::string_view text) {
  return {Kind::authorization, kDomain, kCode,
          base::LanguageBundle::shared().localizedStringForKey(text)};
}

ServiceComError ServiceComError::tooManyPrompts() {
  return {Kind::tooManyPrompts, kDomain, kCode,
          base::LanguageBundle::shared().localizedStringForKey(kTooManyPromptsText)};
}

ServiceComError ServiceComError::file(std::string reason) {
  return {Kind::file, kDomain, kCode, std::move(reason)};
}

ServiceComError ServiceComError::status(long statusCode) {
  ServiceComError error(Kind::status, kDomain, kCode,
                        "The service answered with status " + std::to_string(statusCode));
  error.statusCode_ = statusCode;
  return error;
}

ServiceComError ServiceComError::reply(std::string reason) {
  ServiceComError error(Kind::reply, kDomain, kCode, std::move(reason));
  error.statusCode_ = 200;
  return error;
}

ServiceComError ServiceComError::transport(const HttpError& error) {
  ServiceComError wrapped(Kind::transport, error.domain(), error.code(), error.description());
  wrapped.curlCode_ = error.curlCode();
  return wrapped;
}

}  // namespace vistrelle::cloud::zerotier
