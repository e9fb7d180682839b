#pragma once

#include <memory>
#include <string>

#include "netlocal/socket/gcd_async_socket_pre_buffer.h"
#include "netlocal/socket/gcd_async_socket_secure_layer.h"
#include "platform/dispatch/delayed_task.h"
#include "platform/dispatch/io_source.h"
#include "platform/dispatch/timer_source.h"

namespace vistrelle::netlocal {

// What a socket holds of the system and of the runtime: descriptors,
// readiness sources, the connect timer, delayed tasks and the secure layer.
// Closing moves them out of the socket into a record of their own, so that
// the teardown can run where and when it may: at once on the socket queue,
// on a later turn of it for a socket being destroyed (its destructor never
// waits), or directly once the runtime has stopped.
class GCDAsyncSocketHandles {
 public:
  GCDAsyncSocketHandles() = default;
  // The moved-from record holds nothing.
  GCDAsyncSocketHandles(GCDAsyncSocketHandles&& other) noexcept;
  GCDAsyncSocketHandles& operator=(GCDAsyncSocketHandles&& other) noexcept;
  GCDAsyncSocketHandles(const GCDAsyncSocketHandles&) = delete;
  GCDAsyncSocketHandles& operator=(const GCDAsyncSocketHandles&) = delete;
  // Closes directly what close() was not called for.
  ~GCDAsyncSocketHandles();

  // Ends everything held.  Live (the runtime runs, and this is the socket
  // queue): sources are cancelled and their cancel handlers close the
  // descriptors on the queue.  Not live: descriptors are closed here, and
  // neither the reactor nor a queue is touched.  `sayGoodbye`: the secure
  // layer was up, so the peer is sent close_notify if the descriptor takes
  // it now (a full send buffer or a gone peer simply loses it).
  void close(bool live, bool sayGoodbye);
  // True when there is nothing to close.
  bool empty() const;

  int socket4FD = -1;
  int socket6FD = -1;
  int socketUN = -1;
  // A local-domain listener's socket file, removed at close.
  std::string listenerPath;

  dispatch::IoSourcePtr accept4Source;
  dispatch::IoSourcePtr accept6Source;
  dispatch::IoSourcePtr acceptUNSource;
  dispatch::IoSourcePtr readSource;
  dispatch::IoSourcePtr writeSource;
  dispatch::IoSourcePtr connect4Source;
  dispatch::IoSourcePtr connect6Source;
  dispatch::IoSourcePtr connectUNSource;
  dispatch::TimerSourcePtr connectTimer;
  dispatch::DelayedTask alternateConnect;
  dispatch::DelayedTask acceptPause;

  std::unique_ptr<GCDAsyncSocketSecureLayer> secure;
  std::unique_ptr<GCDAsyncSocketPreBuffer> sslPreBuffer;

 private:
  void moveFrom(GCDAsyncSocketHandles& other) noexcept;
};

}  // namespace vistrelle::netlocal
