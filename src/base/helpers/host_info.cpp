#include "base/helpers/host_info.h"

#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

namespace vistrelle::base {

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::optional<std::string> numericHost(const sockaddr* address) {
  char host[1025] = {};
  if (getnameinfo(address, sizeof(sockaddr_in), host, sizeof(host), nullptr, 0, NI_NUMERICHOST) !=
      0) {
    return std::nullopt;
  }
  return std::string(host);
}

struct InterfaceListDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

std::string cpuBrandStringFromCpuinfo(std::string_view cpuinfo) {
  constexpr std::string_view kKey = "model name";
  while (!cpuinfo.empty()) {
    const auto end = cpuinfo.find('\n');
    const std::string_view line = cpuinfo.substr(0, end);
    cpuinfo = end == std::string_view::npos ? std::string_view{} : cpuinfo.substr(end + 1);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || trim(line.substr(0, colon)) != kKey) continue;
    std::string brand(trim(line.substr(colon + 1)));
    std::transform(brand.begin(), brand.end(), brand.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return brand;
  }
  return {};
}

std::string cpuBrandString() {
  // A kernel without /proc mounted gives no brand, the same answer as a
  // processor that reports none.
  std::ifstream file("/proc/cpuinfo");
  std::ostringstream text;
  text << file.rdbuf();
  return cpuBrandStringFromCpuinfo(text.str());
}

bool isChinaRegion(const EnvironmentLookup& env) {
  const auto locale = messagesLocale(env);
  if (!locale) return true;
  const std::string name = stripCodesetAndModifier(*locale);
  const auto underscore = name.rfind('_');
  const std::string_view region = underscore == std::string::npos
                                      ? std::string_view(name)
                                      : std::string_view(name).substr(underscore + 1);
  return region == "CN";
}

bool isChinaRegion() {
  return isChinaRegion(processEnvironment());
}

std::vector<std::string> localIPv4Addresses(const ifaddrs* interfaces) {
  std::vector<std::string> addresses;
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    const unsigned flags = entry->ifa_flags;
    if ((flags & IFF_UP) == 0 || (flags & IFF_RUNNING) == 0 || (flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    // Linux lists interfaces without an address (and tunnels without a mask).
    if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr) continue;
    if (entry->ifa_addr->sa_family != AF_INET) continue;
    const auto address = numericHost(entry->ifa_addr);
    if (!address) continue;
    const auto mask = numericHost(entry->ifa_netmask);
    if (!mask) continue;
    addresses.push_back(*address + "/" + netmaskPrefixLength(*mask));
  }
  return addresses;
}

std::vector<std::string> localIPv4Addresses() {
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return {};
  const std::unique_ptr<ifaddrs, InterfaceListDeleter> list(raw);
  return localIPv4Addresses(list.get());
}

std::string netmaskPrefixLength(std::string_view mask) {
  int bits = 0;
  std::size_t start = 0;
  while (true) {
    const auto end = mask.find('.', start);
    const std::string_view part = mask.substr(start, end - start);
    std::uint32_t value = 0;
    const auto [ptr, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (error == std::errc() && ptr == part.data() + part.size()) bits += std::popcount(value);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return std::to_string(bits);
}

}  // namespace vistrelle::base
