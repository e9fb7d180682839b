#pragma once

#include <avahi-client/client.h>

#include <memory>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/dnssd/dns_sd_error.h"
#include "platform/dnssd/linux/avahi_runtime_poll.h"

namespace vistrelle::dnssd {

class AvahiOperation;

// The avahi client of one queue, made when an operation first needs it and
// again after the daemon went away.  Lives on the queue; its operations keep
// it alive.
class AvahiSession : public std::enable_shared_from_this<AvahiSession> {
 public:
  AvahiSession(dispatch::ExecutorPtr queue, dispatch::Reactor& reactor);
  ~AvahiSession();
  AvahiSession(const AvahiSession&) = delete;
  AvahiSession& operator=(const AvahiSession&) = delete;

  const dispatch::ExecutorPtr& queue() const { return queue_; }

  // The client, connected now if needed; null with `error` set when there is
  // no daemon to talk to (or no bus).
  AvahiClient* client(DnsSdError* error);
  bool running() const;

  void attach(const std::shared_ptr<AvahiOperation>& operation);

 private:
  static void onClientState(AvahiClient* client, AvahiClientState state, void* userdata);
  // Tells every live operation, pruning the gone ones.
  template <typename Call>
  void forEachOperation(Call call);
  void dropClient(int error);

  const dispatch::ExecutorPtr queue_;
  AvahiRuntimePoll poll_;
  AvahiClient* client_ = nullptr;
  bool connecting_ = false;  // inside avahi_client_new
  std::vector<std::weak_ptr<AvahiOperation>> operations_;
};

}  // namespace vistrelle::dnssd
