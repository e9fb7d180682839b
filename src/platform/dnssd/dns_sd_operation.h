#pragma once

namespace vistrelle::dnssd {

// A running announcement, search or look-up.  Destroying it ends it (an
// announcement is withdrawn), and none of its events is delivered after that.
class DnsSdOperation {
 public:
  virtual ~DnsSdOperation() = default;
};

}  // namespace vistrelle::dnssd
