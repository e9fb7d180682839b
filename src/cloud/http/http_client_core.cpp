#include "cloud/http/http_client_core.h"

#include <utility>
#include <vector>

#include "base/helpers/language_bundle.h"
#include "platform/message/transient_message.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::cloud {

namespace {

// The latest progress of a transfer, posted to the main queue at most once
// at a time however fast the worker reports.
struct ProgressSlot {
  std::atomic<double> latest{0};
  std::atomic<bool> posted{false};
};

}  // namespace

HttpClientCore::HttpClientCore(dispatch::ExecutorPtr mainQueue,
                               std::shared_ptr<AccountSession> session)
    : mainQueue_(std::move(mainQueue)), session_(std::move(session)) {}

void HttpClientCore::onMain(std::function<void()> task) {
  if (mainQueue_->isCurrent()) {
    task();
  } else {
    mainQueue_->post(std::move(task));
  }
}

void HttpClientCore::setSession(std::shared_ptr<AccountSession> session) {
  session_ = std::move(session);
}

void HttpClientCore::start(TransferSpec spec, Call call) {
  if (stopped()) return;
  const uint64_t id = spec.id;
  const std::weak_ptr<HttpClientCore> weak = weak_from_this();
  const dispatch::ExecutorPtr main = mainQueue_;
  spec.onDone = [weak, main, id](TransferResult result) {
    main->post([weak, id, result = std::move(result)]() mutable {
      if (const auto core = weak.lock()) core->deliver(id, std::move(result));
    });
  };
  if (call.progress) {
    auto slot = std::make_shared<ProgressSlot>();
    spec.onProgress = [weak, main, id, slot](double fraction) {
      slot->latest.store(fraction);
      if (slot->posted.exchange(true)) return;
      main->post([weak, id, slot] {
        slot->posted.store(false);
        if (const auto core = weak.lock()) core->deliverProgress(id, slot->latest.load());
      });
    };
  }
  calls_[id] = CallState{std::move(call), false};
  if (!worker_.submit(std::make_unique<CurlTransfer>(std::move(spec)))) calls_.erase(id);
}

void HttpClientCore::cancel(uint64_t id) {
  const auto found = calls_.find(id);
  if (found == calls_.end() || found->second.cancelRequested) return;
  found->second.cancelRequested = true;
  worker_.cancel(id);
}

void HttpClientCore::cancelGroup(const RequestGroup& group) {
  std::vector<uint64_t> ids;
  for (const auto& [id, state] : calls_) {
    if (state.call.group == group) ids.push_back(id);
  }
  for (const uint64_t id : ids) cancel(id);
}

void HttpClientCore::deliver(uint64_t id, TransferResult result) {
  const auto found = calls_.find(id);
  if (found == calls_.end()) return;
  CallState state = std::move(found->second);
  calls_.erase(found);
  if (stopped()) return;
  // A reply that was already on its way when the request was cancelled
  // counts as cancelled too.
  if (state.cancelRequested) {
    if (state.call.abandon) state.call.abandon(HttpError::cancelled());
    return;
  }
  if (state.call.finish) state.call.finish(std::move(result));
}

void HttpClientCore::deliverProgress(uint64_t id, double fraction) {
  const auto found = calls_.find(id);
  if (found == calls_.end() || found->second.cancelRequested || stopped()) return;
  if (found->second.call.progress) found->second.call.progress(fraction);
}

void HttpClientCore::tokenExpired(const std::string& requestToken) {
  if (stopped() || refreshing_) return;
  if (session_->refreshToken().empty()) return;
  // The token was renewed after this request left: nothing to refresh.
  if (session_->isLogin() && session_->accessToken() != requestToken) return;
  refreshing_ = true;
  auto answered = std::make_shared<std::atomic<bool>>(false);
  session_->refresh([weak = weak_from_this(), answered](bool refreshed) {
    if (answered->exchange(true)) return;
    if (const auto core = weak.lock()) {
      core->onMain([core, refreshed] { core->refreshEnded(refreshed); });
    }
  });
}

void HttpClientCore::refreshEnded(bool refreshed) {
  refreshing_ = false;
  if (refreshed || stopped()) return;
  message::TransientMessage::show(
      base::LanguageBundle::shared().localizedStringForKey(kLoginExpiredText));
  session_->clear();
  NotificationCenter::defaultCenter().post(kLoginExpiredNotification, Value(true));
}

void HttpClientCore::stop() {
  stopped_.store(true);
  worker_.stop();
}

}  // namespace vistrelle::cloud
