#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dnssd/dns_sd_error.h"
#include "platform/dnssd/dns_sd_operation.h"
#include "platform/dnssd/dns_sd_service_record.h"

namespace vistrelle::dnssd {

struct DnsSdPublishEvents {
  // The announcement is up under `name` (which a name collision may have
  // changed); may come again when it had to be renamed later.
  std::function<void(const std::string& name)> published;
  std::function<void(const DnsSdError&)> failed;
};

struct DnsSdBrowseEvents {
  std::function<void(const DnsSdServiceRecord&, bool moreComing)> added;
  std::function<void(const DnsSdServiceRecord&, bool moreComing)> removed;
  std::function<void(const DnsSdError&)> failed;
};

struct DnsSdResolveEvents {
  // `host` is the numeric address ("127.0.0.1").
  std::function<void(const std::string& host, uint16_t port)> resolved;
  std::function<void(const DnsSdError&)> failed;
};

// DNS-SD for one queue: every call and the destruction of the service and of
// its operations happen on that queue, and every event is delivered there on
// a later turn, never from inside the call that started the operation.
class DnsSdService {
 public:
  virtual ~DnsSdService() = default;

  virtual std::unique_ptr<DnsSdOperation> publish(DnsSdRegistration registration,
                                                  DnsSdPublishEvents events) = 0;
  // Searches `type` in `domain` (empty: the default one).
  virtual std::unique_ptr<DnsSdOperation> browse(std::string type, std::string domain,
                                                 DnsSdBrowseEvents events) = 0;
  // Looks up the IPv4 address and the port of a service a search reported.
  virtual std::unique_ptr<DnsSdOperation> resolve(DnsSdServiceRecord service,
                                                  DnsSdResolveEvents events) = 0;
};

}  // namespace vistrelle::dnssd
