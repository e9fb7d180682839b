#pragma once

#include <functional>
#include <string>

namespace vistrelle::cloud {

// The account session as the HTTP layer sees it: the login gate, the Bearer
// token, and the refresh and sign-out of the token-expiry road.  Called on the
// main queue only.
class AccountSession {
 public:
  virtual ~AccountSession() = default;

  // True while the session holds an access token.
  virtual bool isLogin() const = 0;
  virtual std::string accessToken() const = 0;
  // Empty when there is none: then an expired token cannot be refreshed.
  virtual std::string refreshToken() const = 0;
  // Starts the token request in refresh mode; `completion` runs once on the
  // main queue with whether new tokens were stored.
  virtual void refresh(std::function<void(bool refreshed)> completion) = 0;
  // Forgets the session (signed out).
  virtual void clear() = 0;
};

}  // namespace vistrelle::cloud
