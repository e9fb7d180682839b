#include "netlocal/socket/socket_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/un.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace vistrelle::netlocal {

namespace {

Bytes addressBytes(const void* addr, size_t length) {
  const auto* begin = static_cast<const uint8_t*>(addr);
  return Bytes(begin, begin + length);
}

}  // namespace

Bytes makeAddress4(in_addr address, uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr = address;
  return addressBytes(&sin, sizeof sin);
}

Bytes makeAddress6(const in6_addr& address, uint16_t port, uint32_t scope) {
  sockaddr_in6 sin6{};
  sin6.sin6_family = AF_INET6;
  sin6.sin6_port = htons(port);
  sin6.sin6_addr = address;
  sin6.sin6_scope_id = scope;
  return addressBytes(&sin6, sizeof sin6);
}

Bytes makeAddressUN(const std::string& path) {
  sockaddr_un sun{};
  if (path.empty() || path.size() >= sizeof sun.sun_path) return {};
  sun.sun_family = AF_UNIX;
  std::memcpy(sun.sun_path, path.data(), path.size());
  return addressBytes(&sun, sizeof sun);
}

int familyOf(const Bytes& address) {
  if (address.size() < sizeof(sa_family_t)) return AF_UNSPEC;
  sa_family_t family;
  std::memcpy(&family, address.data(), sizeof family);
  if (family == AF_INET && address.size() >= sizeof(sockaddr_in)) return AF_INET;
  if (family == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) return AF_INET6;
  if (family == AF_UNIX) return AF_UNIX;
  return AF_UNSPEC;
}

void setPort(Bytes& address, uint16_t port) {
  const int family = familyOf(address);
  if (family == AF_INET) {
    sockaddr_in sin;
    std::memcpy(&sin, address.data(), sizeof sin);
    sin.sin_port = htons(port);
    std::memcpy(address.data(), &sin, sizeof sin);
  } else if (family == AF_INET6) {
    sockaddr_in6 sin6;
    std::memcpy(&sin6, address.data(), sizeof sin6);
    sin6.sin6_port = htons(port);
    std::memcpy(address.data(), &sin6, sizeof sin6);
  }
}

std::string unixPathFromUrl(const std::string& url) {
  static constexpr std::string_view kScheme = "file://";
  std::string path =
      url.compare(0, kScheme.size(), kScheme) == 0 ? url.substr(kScheme.size()) : url;
  if (path.empty() || path.front() != '/') return {};
  return path;
}

void getInterfaceAddress(const std::string& description, uint16_t port, Bytes* address4,
                         Bytes* address6) {
  std::string name = description;
  std::optional<std::string> portText;
  if (!description.empty() && description.front() == '[') {
    const size_t close = description.find(']');
    if (close != std::string::npos) {
      name = description.substr(1, close - 1);
      if (close + 1 < description.size() && description[close + 1] == ':') {
        portText = description.substr(close + 2);
      }
    }
  } else if (std::count(description.begin(), description.end(), ':') == 1) {
    const size_t colon = description.find(':');
    name = description.substr(0, colon);
    portText = description.substr(colon + 1);
  }
  if (port == 0 && portText) {
    char* end = nullptr;
    const long value = std::strtol(portText->c_str(), &end, 10);
    const bool valid = !portText->empty() && end && *end == '\0' && value >= 1 && value <= 65535;
    port = valid ? static_cast<uint16_t>(value) : 0;
  }

  address4->clear();
  address6->clear();
  if (name.empty()) {
    *address4 = makeAddress4(in_addr{htonl(INADDR_ANY)}, port);
    *address6 = makeAddress6(in6addr_any, port);
    return;
  }
  if (name == "localhost" || name == "loopback") {
    *address4 = makeAddress4(in_addr{htonl(INADDR_LOOPBACK)}, port);
    *address6 = makeAddress6(in6addr_loopback, port);
    return;
  }
  in_addr numeric4{};
  in6_addr numeric6{};
  const bool is4 = inet_pton(AF_INET, name.c_str(), &numeric4) == 1;
  const bool is6 = inet_pton(AF_INET6, name.c_str(), &numeric6) == 1;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    const bool nameMatches = entry->ifa_name && name == entry->ifa_name;
    if (entry->ifa_addr->sa_family == AF_INET && address4->empty()) {
      const auto* sin = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (nameMatches || (is4 && sin->sin_addr.s_addr == numeric4.s_addr)) {
        *address4 = makeAddress4(sin->sin_addr, port);
      }
    } else if (entry->ifa_addr->sa_family == AF_INET6 && address6->empty()) {
      const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (nameMatches || (is6 && std::memcmp(&sin6->sin6_addr, &numeric6, sizeof numeric6) == 0)) {
        *address6 = makeAddress6(sin6->sin6_addr, port, sin6->sin6_scope_id);
      }
    }
  }
  freeifaddrs(list);
}

bool isLiteralHost(const std::string& host) {
  if (host == "localhost" || host == "loopback") return true;
  in_addr numeric4{};
  in6_addr numeric6{};
  return inet_pton(AF_INET, host.c_str(), &numeric4) == 1 ||
         inet_pton(AF_INET6, host.c_str(), &numeric6) == 1;
}

std::optional<AddressInfo> describeAddress(const Bytes& address) {
  char text[INET6_ADDRSTRLEN] = {};
  const int family = familyOf(address);
  if (family == AF_INET) {
    sockaddr_in sin;
    std::memcpy(&sin, address.data(), sizeof sin);
    if (!inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text)) return std::nullopt;
    return AddressInfo{address, text, ntohs(sin.sin_port), AF_INET};
  }
  if (family == AF_INET6) {
    sockaddr_in6 sin6;
    std::memcpy(&sin6, address.data(), sizeof sin6);
    if (!inet_ntop(AF_INET6, &sin6.sin6_addr, text, sizeof text)) return std::nullopt;
    return AddressInfo{address, text, ntohs(sin6.sin6_port), AF_INET6};
  }
  return std::nullopt;
}

std::optional<AddressInfo> addressInfo(int fd, bool peer) {
  if (fd < 0) return std::nullopt;
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  auto* raw = reinterpret_cast<sockaddr*>(&addr);
  if ((peer ? getpeername(fd, raw, &length) : getsockname(fd, raw, &length)) != 0) {
    return std::nullopt;
  }
  Bytes bytes = addressBytes(&addr, std::min<size_t>(length, sizeof addr));
  if (auto described = describeAddress(bytes)) return described;
  AddressInfo info;
  info.family = addr.ss_family;
  info.address = std::move(bytes);
  return info;
}

std::vector<Bytes> lookupHost(const std::string& host, uint16_t port, SocketErrorPtr* error) {
  std::vector<Bytes> addresses;
  if (host == "localhost" || host == "loopback") {
    addresses.push_back(makeAddress4(in_addr{htonl(INADDR_LOOPBACK)}, port));
    addresses.push_back(makeAddress6(in6addr_loopback, port));
    return addresses;
  }
  in_addr numeric4{};
  in6_addr numeric6{};
  if (inet_pton(AF_INET, host.c_str(), &numeric4) == 1) {
    addresses.push_back(makeAddress4(numeric4, port));
    return addresses;
  }
  if (inet_pton(AF_INET6, host.c_str(), &numeric6) == 1) {
    addresses.push_back(makeAddress6(numeric6, port));
    return addresses;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* results = nullptr;
  const std::string service = std::to_string(port);
  const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &results);
  if (status != 0) {
    if (error) *error = SocketError::netDB(status);
    return addresses;
  }
  for (addrinfo* entry = results; entry; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET || entry->ai_family == AF_INET6) {
      addresses.push_back(addressBytes(entry->ai_addr, entry->ai_addrlen));
    }
  }
  freeaddrinfo(results);
  return addresses;
}

}  // namespace vistrelle::netlocal
