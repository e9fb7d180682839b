#pragma once

#include <string>
#include <string_view>

#include "cloud/http/http_error.h"

namespace vistrelle::cloud::zerotier {

// Every failure of the ZeroTier client: the token could not be had, the
// service answered with an error status or a reply that is not what it
// should be, or no reply came.
class ServiceComError {
 public:
  enum class Kind {
    authorization,   // the token: the prompt, the privileged read
    tooManyPrompts,  // three prompts since the last successful join or leave
    file,            // the user's copy of the token or its folder
    status,          // the service answered with a status other than 200
    reply,           // a 200 whose body is not the JSON expected
    transport,       // no reply: refused, reset, time-out
  };

  static constexpr std::string_view kDomain = "com.zerotier.one";
  static constexpr long kCode = -1;
  static constexpr const char* kCreateAuthorizationText = "Couldn't create AuthorizationRef";
  static constexpr const char* kCopyRightsText = "Couldn't copy authorization rights";
  static constexpr const char* kUnknownKeyText = "Unknown error finding authorization key";
  static constexpr const char* kTooManyPromptsText = "授权请求次数过多，请稍后重试";

  // `text` is one of the texts above; the description is its translation.
  static ServiceComError authorization(std::string_view text);
  static ServiceComError tooManyPrompts();
  static ServiceComError file(std::string reason);
  static ServiceComError status(long statusCode);
  static ServiceComError reply(std::string reason);
  static ServiceComError transport(const HttpError& error);

  Kind kind() const { return kind_; }
  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  const std::string& description() const { return description_; }
  // The reply's HTTP status; 0 when none came.
  long statusCode() const { return statusCode_; }
  // libcurl's code when no reply came, else 0.
  int curlCode() const { return curlCode_; }

  // The token could not be had, so nothing was sent.
  bool isTokenFailure() const {
    return kind_ == Kind::authorization || kind_ == Kind::tooManyPrompts || kind_ == Kind::file;
  }

 private:
  ServiceComError(Kind kind, std::string_view domain, long code, std::string description);

  Kind kind_;
  std::string domain_;
  long code_;
  std::string description_;
  long statusCode_ = 0;
  int curlCode_ = 0;
};

}  // namespace vistrelle::cloud::zerotier
