#pragma once

#include <avahi-client/publish.h>

#include <string>

#include "platform/dnssd/dns_sd_service.h"
#include "platform/dnssd/linux/avahi_operation.h"

namespace vistrelle::dnssd {

// One announced service in an entry group of its own.  A name the daemon
// already holds (AVAHI_ERR_COLLISION at once, from a service of the same
// daemon) or one that collides on the network later (the group's collision
// state) is replaced by avahi's alternative name and announced again.
class AvahiPublication final : public AvahiOperation {
 public:
  AvahiPublication(std::shared_ptr<AvahiSession> session, DnsSdRegistration registration,
                   DnsSdPublishEvents events);
  ~AvahiPublication() override;

  void clientRunning(AvahiClient* client) override;
  void clientResetting() override;
  void clientLost(const DnsSdError& error) override;

 private:
  void start() override;
  void reportFailure(const DnsSdError& error) override;
  void addService(AvahiClient* client);
  void rename();
  static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata);

  const DnsSdRegistration registration_;
  const DnsSdPublishEvents events_;
  std::string name_;  // as announced now
  std::string type_;  // without the trailing dot
  AvahiEntryGroup* group_ = nullptr;
};

}  // namespace vistrelle::dnssd
