#include "platform/dnssd/linux/avahi_operation.h"

#include <avahi-common/error.h>

#include "platform/dnssd/linux/avahi_session.h"

namespace vistrelle::dnssd {

void AvahiOperation::begin() {
  session_->attach(shared_from_this());
  session_->queue()->post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->start();
  });
}

void AvahiOperation::report(std::function<void(AvahiOperation&)> event) {
  session_->queue()->post([weak = weak_from_this(), event = std::move(event)] {
    if (auto self = weak.lock()) event(*self);
  });
}

void AvahiOperation::fail(const DnsSdError& error) {
  if (failed_) return;
  failed_ = true;
  report([error](AvahiOperation& self) { self.reportFailure(error); });
}

DnsSdError AvahiOperation::errorOf(int code) {
  return DnsSdError{code, avahi_strerror(code)};
}

}  // namespace vistrelle::dnssd
