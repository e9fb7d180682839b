#include "netlocal/dnssd/mrb_server_error.h"

#include <cerrno>
#include <string>

namespace vistrelle::netlocal {

SocketErrorPtr serverErrorForListenFailure(const SocketErrorPtr& cause) {
  bool noSocket = false;
  if (cause && cause->domain() == kPOSIXErrorDomain) {
    switch (cause->code()) {
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM:
      case EAFNOSUPPORT:
      case EPROTONOSUPPORT:
        noSocket = true;
        break;
      default:
        break;
    }
  }
  const std::string because = cause ? cause->describe() : std::string("unknown");
  if (noSocket) {
    return std::make_shared<const SocketError>(
        kServerErrorDomain, MRBServerNoSocketError,
        "The listening socket could not be made: " + because);
  }
  return std::make_shared<const SocketError>(kServerErrorDomain, MRBServerBindError,
                                             "The listening socket could not be bound: " + because);
}

}  // namespace vistrelle::netlocal
