#pragma once

#include <string>

namespace vistrelle::dnssd {

// Why an announcement, a search or a look-up failed: the backend's error
// number (negative) and its text, for the caller to show or log.
struct DnsSdError {
  int code = 0;
  std::string message;
};

}  // namespace vistrelle::dnssd
