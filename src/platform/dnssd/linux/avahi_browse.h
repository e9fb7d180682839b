#pragma once

#include <avahi-client/lookup.h>

#include <string>

#include "platform/dnssd/dns_sd_service.h"
#include "platform/dnssd/linux/avahi_operation.h"

namespace vistrelle::dnssd {

// A search for one service type.  avahi does not say whether more results
// are on their way, so every one is reported with moreComing false.
class AvahiBrowse final : public AvahiOperation {
 public:
  AvahiBrowse(std::shared_ptr<AvahiSession> session, std::string type, std::string domain,
              DnsSdBrowseEvents events);
  ~AvahiBrowse() override;

  void clientLost(const DnsSdError& error) override;

 private:
  void start() override;
  void reportFailure(const DnsSdError& error) override;
  static void onEvent(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                      AvahiBrowserEvent event, const char* name, const char* type,
                      const char* domain, AvahiLookupResultFlags flags, void* userdata);

  const std::string type_;  // without the trailing dot
  const std::string domain_;
  const DnsSdBrowseEvents events_;
  AvahiServiceBrowser* browser_ = nullptr;
};

}  // namespace vistrelle::dnssd
