#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/executor.h"
#include "platform/dnssd/dns_sd_service.h"

namespace vistrelle::netlocal {

// Where a server runs and what it talks to.  Unset members: the installed
// dispatch::Runtime's, avahi, the standard error.  Its sockets belong to the
// installed runtime.
struct MRBServerEnvironment {
  // Every state change, every DNS-SD call and every delegate call run here;
  // default: a serial queue of its own.
  dispatch::ExecutorPtr queue;
  // Makes the DNS-SD service for that queue when first needed.
  std::function<std::shared_ptr<dnssd::DnsSdService>(const dispatch::ExecutorPtr&)> makeService;
  // Console lines.
  std::function<void(const std::string&)> console;

  // Writes a console line to `console`, or to the standard error.
  void log(const std::string& line) const;
};

}  // namespace vistrelle::netlocal
