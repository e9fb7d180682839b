#include "cloud/zerotier/network_monitor.h"

#include <algorithm>
#include <cstdio>

#include "base/log/orvex_log.h"
#include "cloud/zerotier/network_file.h"
#include "platform/dispatch/runtime.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::cloud::zerotier {

std::shared_ptr<NetworkMonitor> NetworkMonitor::create(Options options) {
  return std::shared_ptr<NetworkMonitor>(new NetworkMonitor(std::move(options)));
}

NetworkMonitor::NetworkMonitor(Options options) : options_(std::move(options)) {
  if (!options_.client) options_.client = ServiceCom::sharedInstance();
  if (!options_.mainQueue) options_.mainQueue = dispatch::mainQueue();
  if (!options_.console) {
    options_.console = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }
}

NetworkMonitor::~NetworkMonitor() {
  tick_.cancel();
  restart_.cancel();
}

void NetworkMonitor::start() {
  options_.console(kStartedText);
  tick_.cancel();
  restart_.cancel();
  pausing_ = false;
  running_ = true;
  schedule(kPollInterval);
}

void NetworkMonitor::stop() {
  options_.console(kStoppedText);
  tick_.cancel();
  restart_.cancel();
  pausing_ = false;
  running_ = false;
}

void NetworkMonitor::schedule(std::chrono::milliseconds delay) {
  tick_ = options_.mainQueue->postAfter(delay, [weak = weak_from_this()] {
    if (const auto self = weak.lock()) self->tickFired();
  });
}

void NetworkMonitor::tickFired() {
  if (!running_) return;
  schedule(kPollInterval);
  updateNetworkInfo();
}

void NetworkMonitor::tokenFailed(const ServiceComError& error, int32_t tag) {
  if (running_ || pausing_) {
    if (running_) stop();
    restart_.cancel();
    pausing_ = true;
    restart_ = options_.mainQueue->postAfter(kTokenErrorPause, [weak = weak_from_this()] {
      if (const auto self = weak.lock()) self->start();
    });
  }
  OrvexLog::logZTMessage(error.description(), tag);
}

void NetworkMonitor::requestEnded() {
  if (inFlight_ > 0) --inFlight_;
}

void NetworkMonitor::updateNetworkInfo() {
  // The last poll still waits (for a prompt, or a slow service): asking
  // again would only pile requests up behind it.
  if (inFlight_ > 0) return;

  std::optional<std::vector<Network>> saved = NetworkFile::read(dataFile());
  {
    std::lock_guard lock(mutex_);
    savedNetworks_ = saved ? std::move(*saved) : std::vector<Network>();
  }

  const std::weak_ptr<NetworkMonitor> weak = weak_from_this();
  ++inFlight_;
  std::optional<ServiceComError> refused = options_.client->getNetworklist(
      [weak](std::optional<std::vector<Network>> networks, std::optional<ServiceComError> error) {
        const auto self = weak.lock();
        if (!self) return;
        self->requestEnded();
        if (networks) {
          {
            std::lock_guard lock(self->mutex_);
            self->receivedNetworks_ = std::move(*networks);
          }
          self->internal_updateNetworkInfo();
        } else if (error && error->isTokenFailure()) {
          self->tokenFailed(*error, kListTokenErrorTag);
        }
      });
  if (refused) {
    requestEnded();
    tokenFailed(*refused, kListTokenErrorTag);
  }

  ++inFlight_;
  refused = options_.client->getNodeStatus(
      [weak](std::optional<NodeStatus> status, std::optional<ServiceComError> error) {
        const auto self = weak.lock();
        if (!self) return;
        self->requestEnded();
        if (status) {
          NotificationCenter::defaultCenter().post(kStatusNotification, Value(),
                                                   {{"status", status->toValue()}});
        } else if (error && error->isTokenFailure()) {
          self->tokenFailed(*error, kStatusTokenErrorTag);
        }
      });
  if (refused) {
    requestEnded();
    tokenFailed(*refused, kStatusTokenErrorTag);
  }
}

std::vector<Network> NetworkMonitor::merge(std::vector<Network> saved,
                                           const std::vector<Network>& received) {
  for (const Network& network : received) {
    const auto known = std::find_if(saved.begin(), saved.end(), [&](const Network& entry) {
      return entry.hasSameNetworkId(network.nwid);
    });
    if (known != saved.end()) {
      *known = network;
    } else {
      saved.push_back(network);
    }
  }
  std::stable_sort(saved.begin(), saved.end(),
                   [](const Network& a, const Network& b) { return a.nwid < b.nwid; });
  return saved;
}

void NetworkMonitor::internal_updateNetworkInfo() {
  std::vector<Network> merged;
  {
    std::lock_guard lock(mutex_);
    merged = merge(savedNetworks_, receivedNetworks_);
    allNetworks_ = merged;
  }
  saveNetworks();
  Value::List networks;
  networks.reserve(merged.size());
  for (const Network& network : merged) networks.push_back(network.toValue());
  NotificationCenter::defaultCenter().post(kNetworkListNotification, Value(),
                                           {{"networks", std::move(networks)}});
}

bool NetworkMonitor::saveNetworks() {
  const std::string path = dataFile();
  std::string error;
  std::lock_guard lock(mutex_);
  if (NetworkFile::write(path, allNetworks_, &error)) return true;
  options_.console("ZeroTier: " + error);
  return false;
}

std::string NetworkMonitor::dataFile() const {
  if (options_.dataFile) return options_.dataFile();
  return options_.client->userFolder() + "/" + kDataFileName;
}

namespace {

int64_t indexOf(const std::vector<Network>& networks, uint64_t networkId) {
  for (size_t i = 0; i < networks.size(); ++i) {
    if (networks[i].hasSameNetworkId(networkId)) return static_cast<int64_t>(i);
  }
  return NetworkMonitor::kNotFound;
}

void eraseFirst(std::vector<Network>& networks, uint64_t networkId) {
  const int64_t index = indexOf(networks, networkId);
  if (index != NetworkMonitor::kNotFound) networks.erase(networks.begin() + index);
}

}  // namespace

int64_t NetworkMonitor::findNetworkWithID(uint64_t networkId) const {
  std::lock_guard lock(mutex_);
  return indexOf(allNetworks_, networkId);
}

int64_t NetworkMonitor::findSavedNetworkWithID(uint64_t networkId) const {
  std::lock_guard lock(mutex_);
  return indexOf(savedNetworks_, networkId);
}

void NetworkMonitor::deleteSavedNetwork(const std::string& networkId) {
  const std::optional<uint64_t> id = Network::parseNetworkId(networkId);
  if (!id) return;
  {
    std::lock_guard lock(mutex_);
    eraseFirst(allNetworks_, *id);
    eraseFirst(savedNetworks_, *id);
  }
  saveNetworks();
}

std::vector<Network> NetworkMonitor::allNetworks() const {
  std::lock_guard lock(mutex_);
  return allNetworks_;
}

std::vector<Network> NetworkMonitor::savedNetworks() const {
  std::lock_guard lock(mutex_);
  return savedNetworks_;
}

std::vector<Network> NetworkMonitor::receivedNetworks() const {
  std::lock_guard lock(mutex_);
  return receivedNetworks_;
}

}  // namespace vistrelle::cloud::zerotier
