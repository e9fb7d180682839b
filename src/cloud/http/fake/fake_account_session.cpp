#include "cloud/http/fake/fake_account_session.h"

#include <utility>

namespace vistrelle::cloud {

void FakeAccountSession::signIn(std::string accessToken, std::string refreshToken) {
  accessToken_ = std::move(accessToken);
  refreshToken_ = std::move(refreshToken);
}

void FakeAccountSession::refresh(std::function<void(bool refreshed)> completion) {
  ++refreshCount_;
  if (refreshHandler_) {
    refreshHandler_(std::move(completion));
  } else {
    held_.push_back(std::move(completion));
  }
}

void FakeAccountSession::clear() {
  ++clearCount_;
  accessToken_.clear();
  refreshToken_.clear();
}

void FakeAccountSession::completeRefreshes(bool refreshed) {
  std::vector<std::function<void(bool)>> held = std::exchange(held_, {});
  for (auto& completion : held) completion(refreshed);
}

}  // namespace vistrelle::cloud
