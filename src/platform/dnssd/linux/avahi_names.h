#pragma once

#include <string>

namespace vistrelle::dnssd {

// avahi takes a service type without the trailing dot of the full DNS name
// ("_nvstream._tcp." becomes "_nvstream._tcp").
std::string avahiServiceType(const std::string& type);
// An empty domain is the default one, which avahi takes as null.
const char* avahiDomain(const std::string& domain);

}  // namespace vistrelle::dnssd
