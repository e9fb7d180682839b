#include "platform/dnssd/linux/avahi_dns_sd_service.h"

#include "platform/dnssd/linux/avahi_browse.h"
#include "platform/dnssd/linux/avahi_publication.h"
#include "platform/dnssd/linux/avahi_resolve.h"
#include "platform/dnssd/linux/avahi_session.h"

namespace vistrelle::dnssd {

namespace {

// The caller's handle: the operation (and its avahi object) ends with it.
class Handle final : public DnsSdOperation {
 public:
  explicit Handle(std::shared_ptr<AvahiOperation> operation) : operation_(std::move(operation)) {
    operation_->begin();
  }

 private:
  std::shared_ptr<AvahiOperation> operation_;
};

}  // namespace

AvahiDnsSdService::AvahiDnsSdService(dispatch::ExecutorPtr queue, dispatch::Reactor& reactor)
    : session_(std::make_shared<AvahiSession>(std::move(queue), reactor)) {}

AvahiDnsSdService::~AvahiDnsSdService() = default;

std::unique_ptr<DnsSdOperation> AvahiDnsSdService::publish(DnsSdRegistration registration,
                                                           DnsSdPublishEvents events) {
  return std::make_unique<Handle>(
      std::make_shared<AvahiPublication>(session_, std::move(registration), std::move(events)));
}

std::unique_ptr<DnsSdOperation> AvahiDnsSdService::browse(std::string type, std::string domain,
                                                          DnsSdBrowseEvents events) {
  return std::make_unique<Handle>(std::make_shared<AvahiBrowse>(
      session_, std::move(type), std::move(domain), std::move(events)));
}

std::unique_ptr<DnsSdOperation> AvahiDnsSdService::resolve(DnsSdServiceRecord service,
                                                           DnsSdResolveEvents events) {
  return std::make_unique<Handle>(
      std::make_shared<AvahiResolve>(session_, std::move(service), std::move(events)));
}

}  // namespace vistrelle::dnssd
