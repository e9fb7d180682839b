#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cloud/zerotier/network_monitor.h"
#include "cloud/zerotier/node_status.h"
#include "cloud/zerotier/service_com.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/subscription.h"

namespace vistrelle::cloud::zerotier {

// The application's handle on the remote network: joins the network the
// account service assigned, watches the local service until its node
// reports, and leaves the network or makes the service quit.  Main queue
// only.
class OrvexZeroTierManager : public std::enable_shared_from_this<OrvexZeroTierManager> {
 public:
  struct Options {
    std::shared_ptr<ServiceCom> client;  // none: ServiceCom::sharedInstance()
    dispatch::ExecutorPtr mainQueue;     // none: dispatch::mainQueue()
    NetworkMonitor::Options monitor;     // its client and queue follow these
  };

  static std::shared_ptr<OrvexZeroTierManager> create(Options options);
  // The process' manager, made on first call with the defaults.
  static OrvexZeroTierManager& shareManager();

  const std::optional<NodeStatus>& status() const { return status_; }
  NetworkMonitor& monitor() { return *monitor_; }
  const std::string& networkId() const { return networkId_; }

  // One poll now, then polling every second.
  void updateNetworkInfo();
  // Joins with allowManaged only.  `completion` runs once on the main queue:
  // no error on 200; otherwise the error (its status when the service
  // answered).
  void joinNetwork(const std::string& networkId, JoinCompletion completion = nullptr);
  // An empty id does nothing.  On 200 the network id and the status are
  // cleared; otherwise both stay.
  void leaveNetwork(const std::string& networkId);
  // Once the service quit, a second later: no status, and
  // "notificationName_LoginSuccess" with no object.  A failed quit changes
  // nothing.
  void quitZT();

  static constexpr std::chrono::seconds kQuitSettleDelay{1};

 private:
  explicit OrvexZeroTierManager(Options options);
  void observe();
  void onNodeStatusUpdated(const Value& userInfoStatus);

  Options options_;
  std::shared_ptr<NetworkMonitor> monitor_;
  std::optional<NodeStatus> status_;
  std::string networkId_;
  Subscription statusSubscription_;
};

}  // namespace vistrelle::cloud::zerotier
