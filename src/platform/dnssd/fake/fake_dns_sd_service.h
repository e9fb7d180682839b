#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/dnssd/dns_sd_service.h"

namespace vistrelle::dnssd {

// DNS-SD for tests: records what is announced, searched and looked up, and
// lets the test say what the network answers.  Answers are delivered on the
// service's queue, and only to an operation that is still running when they
// arrive there, as the real backend does.  The test side is safe from any
// thread.
class FakeDnsSdService final : public DnsSdService {
 public:
  struct Publication {
    uint64_t id = 0;
    DnsSdRegistration registration;
    bool running = false;
  };
  struct Browse {
    uint64_t id = 0;
    std::string type;
    std::string domain;
    bool running = false;
  };
  struct Resolve {
    uint64_t id = 0;
    DnsSdServiceRecord service;
    bool running = false;
  };

  explicit FakeDnsSdService(dispatch::ExecutorPtr queue);

  std::unique_ptr<DnsSdOperation> publish(DnsSdRegistration registration,
                                          DnsSdPublishEvents events) override;
  std::unique_ptr<DnsSdOperation> browse(std::string type, std::string domain,
                                         DnsSdBrowseEvents events) override;
  std::unique_ptr<DnsSdOperation> resolve(DnsSdServiceRecord service,
                                          DnsSdResolveEvents events) override;

  // Every operation ever started, oldest first.
  std::vector<Publication> publications() const;
  std::vector<Browse> browses() const;
  std::vector<Resolve> resolves() const;
  // The latest running one, if any.
  std::optional<Publication> runningPublication() const;

  void publishSucceeds(uint64_t id, std::string name);
  void publishFails(uint64_t id, DnsSdError error);
  // To every search running when it arrives.
  void serviceAppears(DnsSdServiceRecord service, bool moreComing = false);
  void serviceDisappears(DnsSdServiceRecord service, bool moreComing = false);
  void resolveSucceeds(uint64_t id, std::string host, uint16_t port);
  void resolveFails(uint64_t id, DnsSdError error);

 private:
  struct State;
  class Handle;

  struct Entry {
    bool running = true;
    DnsSdPublishEvents publish;
    DnsSdBrowseEvents browse;
    DnsSdResolveEvents resolve;
  };

  template <typename Call>
  void deliver(uint64_t id, Call call);

  const dispatch::ExecutorPtr queue_;
  const std::shared_ptr<State> state_;
};

}  // namespace vistrelle::dnssd
