#include "platform/dnssd/linux/avahi_names.h"

namespace vistrelle::dnssd {

std::string avahiServiceType(const std::string& type) {
  if (!type.empty() && type.back() == '.') return type.substr(0, type.size() - 1);
  return type;
}

const char* avahiDomain(const std::string& domain) {
  return domain.empty() ? nullptr : domain.c_str();
}

}  // namespace vistrelle::dnssd
