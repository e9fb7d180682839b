#pragma once

#include <ifaddrs.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/helpers/locale_environment.h"

namespace vistrelle::base {

// The processor's brand, lower-cased ("intel(r) core(tm) i7-..."), from the
// first "model name" line of /proc/cpuinfo; empty where the kernel reports no
// brand (aarch64 has no such line).  Callers test whether it contains "intel".
std::string cpuBrandString();
std::string cpuBrandStringFromCpuinfo(std::string_view cpuinfo);

// Whether the user's region is mainland China: true when no messages locale is
// set at all; otherwise whether the part after the last "_" of the locale name,
// without codeset and modifier, is exactly "CN" (zh_CN.UTF-8 and en_CN are
// China; zh_TW, en_US, C and C.UTF-8 are not).
bool isChinaRegion(const EnvironmentLookup& env);
bool isChinaRegion();

// The IPv4 address and prefix length ("192.168.1.23/24") of every interface
// that is up, running and not loopback, in interface order.
std::vector<std::string> localIPv4Addresses();
std::vector<std::string> localIPv4Addresses(const ifaddrs* interfaces);

// The number of one bits of a dotted mask, as decimal text: "255.255.240.0"
// gives "20", "" gives "0".  A part that is not a decimal number counts as 0.
std::string netmaskPrefixLength(std::string_view mask);

}  // namespace vistrelle::base
