#include "platform/dnssd/linux/avahi_browse.h"

#include "platform/dnssd/linux/avahi_names.h"
#include "platform/dnssd/linux/avahi_session.h"

namespace vistrelle::dnssd {

AvahiBrowse::AvahiBrowse(std::shared_ptr<AvahiSession> session, std::string type,
                         std::string domain, DnsSdBrowseEvents events)
    : AvahiOperation(std::move(session)),
      type_(avahiServiceType(type)),
      domain_(std::move(domain)),
      events_(std::move(events)) {}

AvahiBrowse::~AvahiBrowse() {
  if (browser_) avahi_service_browser_free(browser_);
}

void AvahiBrowse::start() {
  DnsSdError error;
  AvahiClient* client = session_->client(&error);
  if (!client) {
    fail(error);
    return;
  }
  browser_ = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type_.c_str(),
                                       avahiDomain(domain_), static_cast<AvahiLookupFlags>(0),
                                       &AvahiBrowse::onEvent, this);
  if (!browser_) fail(errorOf(avahi_client_errno(client)));
}

void AvahiBrowse::clientLost(const DnsSdError& error) {
  browser_ = nullptr;  // freed with the client
  fail(error);
}

void AvahiBrowse::onEvent(AvahiServiceBrowser* browser, AvahiIfIndex interface,
                          AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                          const char* type, const char* domain, AvahiLookupResultFlags /*flags*/,
                          void* userdata) {
  auto* self = static_cast<AvahiBrowse*>(userdata);
  switch (event) {
    case AVAHI_BROWSER_NEW:
    case AVAHI_BROWSER_REMOVE: {
      DnsSdServiceRecord record{name ? name : "", type ? type : "", domain ? domain : "", interface,
                                protocol == AVAHI_PROTO_INET    ? DnsSdFamily::IPv4
                                : protocol == AVAHI_PROTO_INET6 ? DnsSdFamily::IPv6
                                                                : DnsSdFamily::Any};
      const bool added = event == AVAHI_BROWSER_NEW;
      self->report([record = std::move(record), added](AvahiOperation& operation) {
        auto& search = static_cast<AvahiBrowse&>(operation);
        if (search.failed_) return;
        const auto& handler = added ? search.events_.added : search.events_.removed;
        if (handler) handler(record, false);
      });
      break;
    }
    case AVAHI_BROWSER_FAILURE:
      self->fail(errorOf(avahi_client_errno(avahi_service_browser_get_client(browser))));
      break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
      break;
  }
}

void AvahiBrowse::reportFailure(const DnsSdError& error) {
  if (events_.failed) events_.failed(error);
}

}  // namespace vistrelle::dnssd
