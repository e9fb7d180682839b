#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cloud/zerotier/network.h"
#include "cloud/zerotier/service_com.h"
#include "platform/dispatch/delayed_task.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::cloud::zerotier {

// Polls the local service once a second while started: merges the networks
// it reports with the saved list ("networkinfo.dat"), saves the union and
// posts it as "com.zerotier.one.network-list" {"networks"}, and posts the
// node's status as "com.zerotier.one.status" {"status"}.  Main queue only.
class NetworkMonitor : public std::enable_shared_from_this<NetworkMonitor> {
 public:
  struct Options {
    std::shared_ptr<ServiceCom> client;               // none: ServiceCom::sharedInstance()
    dispatch::ExecutorPtr mainQueue;                  // none: dispatch::mainQueue()
    std::function<std::string()> dataFile;            // none: the client's user folder
    std::function<void(const std::string&)> console;  // none: stderr
  };

  static std::shared_ptr<NetworkMonitor> create(Options options);
  ~NetworkMonitor();

  // Polls every kPollInterval from now on (stopping first).
  void start();
  void stop();
  bool isRunning() const { return running_; }
  // The last poll's requests have not all answered yet.
  bool pollInFlight() const { return inFlight_ > 0; }

  // One poll: the saved list from the file, then the network list and the
  // node status from the service.  A poll whose requests have not answered
  // yet (waiting for a prompt, say) is not repeated on top of them.  A token
  // failure pauses a running poll for a second.
  void updateNetworkInfo();
  // Merges the last reply into the saved list, saves and posts the result.
  void internal_updateNetworkInfo();
  // Writes the merged list to the data file; false when it could not.
  bool saveNetworks();
  std::string dataFile() const;

  // The saved list by id, the reply's networks in its order: a known id
  // replaced in place (its first entry), a new one appended; sorted by id.
  static std::vector<Network> merge(std::vector<Network> saved,
                                    const std::vector<Network>& received);

  // Index of the first network with that id, or kNotFound.
  int64_t findNetworkWithID(uint64_t networkId) const;
  int64_t findSavedNetworkWithID(uint64_t networkId) const;
  // Removes the first entry with that id (hexadecimal text) from the merged
  // and the saved list, and saves.  An id that is not hexadecimal removes
  // nothing.
  void deleteSavedNetwork(const std::string& networkId);

  std::vector<Network> allNetworks() const;
  std::vector<Network> savedNetworks() const;
  std::vector<Network> receivedNetworks() const;

  static constexpr int64_t kNotFound = std::numeric_limits<int64_t>::max();
  static constexpr std::chrono::milliseconds kPollInterval{1000};
  static constexpr std::chrono::milliseconds kTokenErrorPause{1000};
  static constexpr const char* kDataFileName = "networkinfo.dat";
  static constexpr const char* kNetworkListNotification = "com.zerotier.one.network-list";
  static constexpr const char* kStatusNotification = "com.zerotier.one.status";
  static constexpr const char* kStartedText = "ZeroTier monitor started";
  static constexpr const char* kStoppedText = "ZeroTier monitor stopped";
  // ZeroTier log tags of token failures.
  static constexpr int32_t kListTokenErrorTag = 0;
  static constexpr int32_t kStatusTokenErrorTag = 1;

 private:
  explicit NetworkMonitor(Options options);

  void schedule(std::chrono::milliseconds delay);
  void tickFired();
  // A request could not get its token: stop, start again a second later.
  void tokenFailed(const ServiceComError& error, int32_t tag);
  void requestEnded();

  Options options_;
  bool running_ = false;
  bool pausing_ = false;  // stopped by a token failure, starting again soon
  dispatch::DelayedTask tick_;
  dispatch::DelayedTask restart_;
  int inFlight_ = 0;

  // The lists, under the monitor's lock.
  mutable std::mutex mutex_;
  std::vector<Network> savedNetworks_;
  std::vector<Network> receivedNetworks_;
  std::vector<Network> allNetworks_;
};

}  // namespace vistrelle::cloud::zerotier
