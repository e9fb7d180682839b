#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/socket_error.h"
#include "platform/dispatch/clock.h"

// What the files that make up GCDAsyncSocket share (and nothing else uses):
// the state and configuration words and a few system-call helpers.

namespace vistrelle::netlocal {

enum SocketFlags : uint32_t {
  kSocketStarted = 1 << 0,
  kConnected = 1 << 1,
  kForbidReadsWrites = 1 << 2,
  kReadsPaused = 1 << 3,
  kWritesPaused = 1 << 4,
  kDisconnectAfterReads = 1 << 5,
  kDisconnectAfterWrites = 1 << 6,
  kSocketCanAcceptBytes = 1 << 7,
  kReadSourceSuspended = 1 << 8,
  kWriteSourceSuspended = 1 << 9,
  kQueuedTLS = 1 << 10,
  kStartingReadTLS = 1 << 11,
  kStartingWriteTLS = 1 << 12,
  kSocketSecure = 1 << 13,
  kSocketHasReadEOF = 1 << 14,
  kReadStreamClosed = 1 << 15,
  kDealloc = 1 << 16,
};

enum SocketConfig : uint16_t {
  kIPv4Disabled = 1 << 0,
  kIPv6Disabled = 1 << 1,
  kPreferIPv6 = 1 << 2,
  kAllowHalfDuplexConnection = 1 << 3,
};

constexpr size_t kPreBufferCapacity = 4096;

inline dispatch::Nanos toNanos(double seconds) {
  return std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(seconds));
}

inline void setError(SocketErrorPtr* out, SocketErrorPtr error) {
  if (out) *out = std::move(error);
}

inline void closeDescriptor(int fd) {
  // close() must not be retried on EINTR on Linux: the descriptor is gone either way.
  if (fd >= 0) ::close(fd);
}

inline ssize_t readRetrying(int fd, void* buffer, size_t length) {
  ssize_t result;
  do {
    result = ::read(fd, buffer, length);
  } while (result < 0 && errno == EINTR);
  return result;
}

inline ssize_t sendRetrying(int fd, const void* buffer, size_t length) {
  ssize_t result;
  do {
    // MSG_NOSIGNAL: a peer that closed turns into EPIPE, never a SIGPIPE.
    result = ::send(fd, buffer, length, MSG_NOSIGNAL);
  } while (result < 0 && errno == EINTR);
  return result;
}

// Delegate calls go to the delegate queue, never run on the socket queue; a
// socket whose runtime has stopped tells nobody anything.
template <typename Call>
void GCDAsyncSocket::notifyDelegate(Call call) {
  if (!delegateQueue_ || !link_->live()) return;
  delegateQueue_->post([delegate = delegate_, self = selfForDelegate(), call = std::move(call)] {
    if (auto target = delegate.lock()) call(*target, self);
  });
}

}  // namespace vistrelle::netlocal
