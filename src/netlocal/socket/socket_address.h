#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netlocal/socket/socket_data.h"
#include "netlocal/socket/socket_error.h"

// Socket addresses as the socket layer passes them around: the raw sockaddr
// bytes of IPv4, IPv6 and local-domain addresses.

namespace vistrelle::netlocal {

// One address with what the state getters show of it: host text (numeric)
// and port for IPv4 and IPv6, only the bytes for a local-domain address.
struct AddressInfo {
  Bytes address;
  std::string host;
  uint16_t port = 0;
  int family = AF_UNSPEC;
};

Bytes makeAddress4(in_addr address, uint16_t port);
Bytes makeAddress6(const in6_addr& address, uint16_t port, uint32_t scope = 0);
// A sockaddr_un for `path`, or empty when it does not fit sun_path.
Bytes makeAddressUN(const std::string& path);

// AF_INET or AF_INET6 when the bytes hold a whole address of that family,
// AF_UNIX for a local-domain one, else AF_UNSPEC.
int familyOf(const Bytes& address);
// Sets the port of an IPv4 or IPv6 address; other addresses stay as they are.
void setPort(Bytes& address, uint16_t port);

// A local-domain path from a file URL or an absolute path; empty if neither.
std::string unixPathFromUrl(const std::string& url);

// Resolves an interface description into an IPv4 and an IPv6 address with
// the port: empty means any address, "localhost" or "loopback" the loopback
// addresses, else an interface name or one of its numeric addresses.  A
// description of the form interface:port (exactly one ':', or a bracketed
// IPv6 literal) carries a port that counts when `port` is 0; so "::1" and
// "fe80::1" stay addresses.  Either output is empty when there is no such
// address.
void getInterfaceAddress(const std::string& description, uint16_t port, Bytes* address4,
                         Bytes* address6);

// Hosts answered without a name look-up: the loopback names and numeric
// addresses.
bool isLiteralHost(const std::string& host);

// Host text and port of an IPv4 or IPv6 address; nothing for other bytes.
std::optional<AddressInfo> describeAddress(const Bytes& address);

// The local (`peer` false) or remote address of a descriptor, any family.
std::optional<AddressInfo> addressInfo(int fd, bool peer);

// Addresses of `host` (IPv4 and IPv6 socket addresses with `port`).  The
// loopback names and numeric addresses are answered without a look-up;
// anything else asks the resolver, which may block.  On failure: empty, and
// a "kCFStreamErrorDomainNetDB" error.
std::vector<Bytes> lookupHost(const std::string& host, uint16_t port, SocketErrorPtr* error);

}  // namespace vistrelle::netlocal
