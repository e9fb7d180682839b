#pragma once

#include <avahi-client/client.h>

#include <functional>
#include <memory>

#include "platform/dnssd/dns_sd_error.h"

namespace vistrelle::dnssd {

class AvahiSession;

// One announcement, search or look-up on an avahi client.  Lives on the
// session's queue; its owner's handle destroying it frees its avahi object.
// The session tells it what happens to the client it is attached to.
class AvahiOperation : public std::enable_shared_from_this<AvahiOperation> {
 public:
  explicit AvahiOperation(std::shared_ptr<AvahiSession> session) : session_(std::move(session)) {}
  virtual ~AvahiOperation() = default;
  AvahiOperation(const AvahiOperation&) = delete;
  AvahiOperation& operator=(const AvahiOperation&) = delete;

  // Begins on a later turn of the queue, so that no event reaches the owner
  // before it holds the handle.
  void begin();

  // The client is running (again, after a host-name change): register.
  virtual void clientRunning(AvahiClient* /*client*/) {}
  // The client is renaming the host: announcements are taken down until it
  // runs again.
  virtual void clientResetting() {}
  // The client failed and is about to be freed, with every avahi object made
  // on it: forget them and report.
  virtual void clientLost(const DnsSdError& error) = 0;

 protected:
  virtual void start() = 0;

  // Delivers on a later turn, unless this operation is gone by then.  Once
  // it has failed, nothing more is delivered.
  void report(std::function<void(AvahiOperation&)> event);
  void fail(const DnsSdError& error);
  virtual void reportFailure(const DnsSdError& error) = 0;

  static DnsSdError errorOf(int code);

  const std::shared_ptr<AvahiSession> session_;
  bool failed_ = false;
};

}  // namespace vistrelle::dnssd
