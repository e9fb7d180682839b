#pragma once

#include "netlocal/socket/socket_error.h"

namespace vistrelle::netlocal {

inline constexpr char kServerErrorDomain[] = "ServerErrorDomain";

enum MRBServerError : int {
  MRBServerBindError = 0,      // the listener could not be bound
  MRBServerNoSocketError = 2,  // the listener could not be made
};

// The error of a start whose listener failed for `cause`: no descriptor to
// be had (too many open, no memory, no IPv4) is MRBServerNoSocketError,
// anything else a bind failure.
SocketErrorPtr serverErrorForListenFailure(const SocketErrorPtr& cause);

}  // namespace vistrelle::netlocal
