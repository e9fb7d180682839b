#pragma once

#include <memory>

#include "platform/dispatch/executor.h"
#include "platform/dnssd/dns_sd_service.h"

namespace vistrelle::dispatch {
class Reactor;
}

namespace vistrelle::dnssd {

class AvahiSession;

// DNS-SD through the avahi daemon over the system bus (avahi-client).  The
// client is made when the first operation starts; where there is no daemon
// (or no bus) that operation fails with avahi's reason ("Daemon not
// running"), and the next one tries again.
class AvahiDnsSdService final : public DnsSdService {
 public:
  AvahiDnsSdService(dispatch::ExecutorPtr queue, dispatch::Reactor& reactor);
  ~AvahiDnsSdService() override;

  std::unique_ptr<DnsSdOperation> publish(DnsSdRegistration registration,
                                          DnsSdPublishEvents events) override;
  std::unique_ptr<DnsSdOperation> browse(std::string type, std::string domain,
                                         DnsSdBrowseEvents events) override;
  std::unique_ptr<DnsSdOperation> resolve(DnsSdServiceRecord service,
                                          DnsSdResolveEvents events) override;

 private:
  std::shared_ptr<AvahiSession> session_;
};

}  // namespace vistrelle::dnssd
