#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cloud/http/account_session.h"

namespace vistrelle::cloud {

// A session without an account service behind it: signed out until signIn(),
// and a refresh completes only when told to (or through a handler).  Main
// queue only, like the real one.
class FakeAccountSession final : public AccountSession {
 public:
  using RefreshHandler = std::function<void(std::function<void(bool)> completion)>;

  void signIn(std::string accessToken, std::string refreshToken);

  bool isLogin() const override { return !accessToken_.empty(); }
  std::string accessToken() const override { return accessToken_; }
  std::string refreshToken() const override { return refreshToken_; }
  // Counts the call; hands the completion to the handler when one is set,
  // otherwise holds it until completeRefreshes().
  void refresh(std::function<void(bool refreshed)> completion) override;
  void clear() override;

  void setRefreshHandler(RefreshHandler handler) { refreshHandler_ = std::move(handler); }
  // Completes every held refresh with `refreshed`.
  void completeRefreshes(bool refreshed);

  int refreshCount() const { return refreshCount_; }
  int clearCount() const { return clearCount_; }
  size_t heldRefreshes() const { return held_.size(); }

 private:
  std::string accessToken_;
  std::string refreshToken_;
  RefreshHandler refreshHandler_;
  std::vector<std::function<void(bool)>> held_;
  int refreshCount_ = 0;
  int clearCount_ = 0;
};

}  // namespace vistrelle::cloud
