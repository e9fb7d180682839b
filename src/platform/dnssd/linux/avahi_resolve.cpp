#include "platform/dnssd/linux/avahi_resolve.h"

#include <avahi-common/address.h>

#include <string>

#include "platform/dnssd/linux/avahi_names.h"
#include "platform/dnssd/linux/avahi_session.h"

namespace vistrelle::dnssd {

namespace {

AvahiProtocol protocolOf(DnsSdFamily family) {
  switch (family) {
    case DnsSdFamily::IPv4:
      return AVAHI_PROTO_INET;
    case DnsSdFamily::IPv6:
      return AVAHI_PROTO_INET6;
    case DnsSdFamily::Any:
      break;
  }
  return AVAHI_PROTO_UNSPEC;
}

}  // namespace

AvahiResolve::AvahiResolve(std::shared_ptr<AvahiSession> session, DnsSdServiceRecord service,
                           DnsSdResolveEvents events)
    : AvahiOperation(std::move(session)),
      service_(std::move(service)),
      events_(std::move(events)) {}

AvahiResolve::~AvahiResolve() {
  if (resolver_) avahi_service_resolver_free(resolver_);
}

void AvahiResolve::start() {
  DnsSdError error;
  AvahiClient* client = session_->client(&error);
  if (!client) {
    fail(error);
    return;
  }
  const std::string type = avahiServiceType(service_.type);
  // Our streams are IPv4 only: ask for an IPv4 address.
  resolver_ = avahi_service_resolver_new(
      client, service_.interfaceIndex, protocolOf(service_.family), service_.name.c_str(),
      type.c_str(), avahiDomain(service_.domain), AVAHI_PROTO_INET,
      static_cast<AvahiLookupFlags>(0), &AvahiResolve::onEvent, this);
  if (!resolver_) fail(errorOf(avahi_client_errno(client)));
}

void AvahiResolve::clientLost(const DnsSdError& error) {
  resolver_ = nullptr;  // freed with the client
  fail(error);
}

void AvahiResolve::onEvent(AvahiServiceResolver* resolver, AvahiIfIndex /*interface*/,
                           AvahiProtocol /*protocol*/, AvahiResolverEvent event,
                           const char* /*name*/, const char* /*type*/, const char* /*domain*/,
                           const char* /*hostName*/, const AvahiAddress* address, uint16_t port,
                           AvahiStringList* /*txt*/, AvahiLookupResultFlags /*flags*/,
                           void* userdata) {
  auto* self = static_cast<AvahiResolve*>(userdata);
  if (event == AVAHI_RESOLVER_FAILURE || !address) {
    self->fail(errorOf(avahi_client_errno(avahi_service_resolver_get_client(resolver))));
    return;
  }
  char text[AVAHI_ADDRESS_STR_MAX] = {};
  avahi_address_snprint(text, sizeof text, address);
  self->report([host = std::string(text), port](AvahiOperation& operation) {
    auto& lookup = static_cast<AvahiResolve&>(operation);
    if (!lookup.failed_ && lookup.events_.resolved) lookup.events_.resolved(host, port);
  });
}

void AvahiResolve::reportFailure(const DnsSdError& error) {
  if (events_.failed) events_.failed(error);
}

}  // namespace vistrelle::dnssd
