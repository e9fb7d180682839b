#include "cloud/zerotier/orvex_zero_tier_manager.h"

#include "platform/dispatch/runtime.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::cloud::zerotier {

std::shared_ptr<OrvexZeroTierManager> OrvexZeroTierManager::create(Options options) {
  std::shared_ptr<OrvexZeroTierManager> manager(new OrvexZeroTierManager(std::move(options)));
  manager->observe();
  return manager;
}

OrvexZeroTierManager& OrvexZeroTierManager::shareManager() {
  static const std::shared_ptr<OrvexZeroTierManager> manager = create(Options{});
  return *manager;
}

OrvexZeroTierManager::OrvexZeroTierManager(Options options) : options_(std::move(options)) {
  if (!options_.client) options_.client = ServiceCom::sharedInstance();
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  options_.monitor.client = options_.client;
  options_.monitor.mainQueue = options_.mainQueue;
  monitor_ = NetworkMonitor::create(options_.monitor);
}

void OrvexZeroTierManager::observe() {
  const std::weak_ptr<OrvexZeroTierManager> weak = weak_from_this();
  statusSubscription_ = NotificationCenter::defaultCenter().observe(
      NetworkMonitor::kStatusNotification, options_.mainQueue,
      [weak](const Notification& notification) {
        const auto self = weak.lock();
        if (!self) return;
        const auto status = notification.userInfo.find("status");
        self->onNodeStatusUpdated(status != notification.userInfo.end() ? status->second : Value());
      });
  options_.client->setNodeAddressSource([weak]() -> std::optional<std::string> {
    const auto self = weak.lock();
    if (!self || !self->status_) return std::nullopt;
    return self->status_->address;
  });
}

void OrvexZeroTierManager::onNodeStatusUpdated(const Value& userInfoStatus) {
  // Only the first report after a join counts; later ones change nothing.
  if (status_) return;
  std::optional<NodeStatus> status = NodeStatus::fromValue(userInfoStatus);
  if (!status) return;
  status_ = std::move(status);
  NotificationCenter::defaultCenter().post(ServiceCom::kJoinOkNotification,
                                           Value(status_->address));
  monitor_->stop();
}

void OrvexZeroTierManager::updateNetworkInfo() {
  monitor_->updateNetworkInfo();
  monitor_->start();
}

void OrvexZeroTierManager::joinNetwork(const std::string& networkId, JoinCompletion completion) {
  networkId_ = networkId;
  updateNetworkInfo();
  std::optional<ServiceComError> refused =
      options_.client->joinNetwork(networkId, true, false, false, false, completion);
  if (refused && completion) {
    options_.mainQueue->post([completion, error = std::move(*refused)] { completion(error); });
  }
}

void OrvexZeroTierManager::leaveNetwork(const std::string& networkId) {
  if (networkId.empty()) return;
  options_.client->leaveNetwork(networkId,
                                [weak = weak_from_this()](std::optional<ServiceComError> error) {
                                  const auto self = weak.lock();
                                  if (!self || error) return;
                                  self->networkId_.clear();
                                  self->status_.reset();
                                });
}

void OrvexZeroTierManager::quitZT() {
  options_.client->quitZT([weak = weak_from_this(), queue = options_.mainQueue](
                              bool isSuccess, std::optional<ServiceComError>) {
    if (!isSuccess) return;
    queue->postAfter(kQuitSettleDelay, [weak] {
      const auto self = weak.lock();
      if (!self) return;
      self->status_.reset();
      NotificationCenter::defaultCenter().post(ServiceCom::kLoginSuccessNotification);
    });
  });
}

}  // namespace vistrelle::cloud::zerotier
