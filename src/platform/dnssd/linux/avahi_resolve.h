#pragma once

#include <avahi-client/lookup.h>

#include "platform/dnssd/dns_sd_service.h"
#include "platform/dnssd/linux/avahi_operation.h"

namespace vistrelle::dnssd {

// The IPv4 address and port of one service.  avahi gives up on its own after
// a few seconds without an answer (a failure with its time-out error).
class AvahiResolve final : public AvahiOperation {
 public:
  AvahiResolve(std::shared_ptr<AvahiSession> session, DnsSdServiceRecord service,
               DnsSdResolveEvents events);
  ~AvahiResolve() override;

  void clientLost(const DnsSdError& error) override;

 private:
  void start() override;
  void reportFailure(const DnsSdError& error) override;
  static void onEvent(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                      AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                      const char* type, const char* domain, const char* hostName,
                      const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                      AvahiLookupResultFlags flags, void* userdata);

  const DnsSdServiceRecord service_;
  const DnsSdResolveEvents events_;
  AvahiServiceResolver* resolver_ = nullptr;
};

}  // namespace vistrelle::dnssd
