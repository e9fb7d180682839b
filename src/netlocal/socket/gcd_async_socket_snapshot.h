#pragma once

#include <any>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "netlocal/socket/socket_address.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::netlocal {

class GCDAsyncSocketDelegate;

// What a socket shows to callers on other threads: its addresses (fixed when
// a connection is made or a listener starts), its delegate, the progress of
// its current read and write, and the caller's user data.  The socket queue
// publishes; readers take a short lock and never wait for the queue.
class GCDAsyncSocketSnapshot {
 public:
  // The local and remote address of one descriptor.
  struct Endpoint {
    std::optional<AddressInfo> local;
    std::optional<AddressInfo> peer;
    bool open = false;
  };
  struct Endpoints {
    Endpoint ipv4;
    Endpoint ipv6;
    Endpoint localDomain;
    std::string url;  // "file://…" of a local-domain listener or connection
  };
  struct Progress {
    bool current = false;
    long tag = 0;
    size_t done = 0;
    size_t total = 0;
  };
  enum class Side { Read, Write };

  void publishEndpoints(Endpoints endpoints);
  void clearEndpoints();
  std::shared_ptr<const Endpoints> endpoints() const;

  void publishDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                       dispatch::ExecutorPtr delegateQueue);
  std::weak_ptr<GCDAsyncSocketDelegate> delegate() const;
  dispatch::ExecutorPtr delegateQueue() const;

  void publishProgress(Side side, Progress progress);
  Progress progress(Side side) const;

  std::any userData() const;
  void setUserData(std::any data);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const Endpoints> endpoints_ = std::make_shared<const Endpoints>();
  std::weak_ptr<GCDAsyncSocketDelegate> delegate_;
  dispatch::ExecutorPtr delegateQueue_;
  Progress read_;
  Progress write_;
  std::any userData_;
};

}  // namespace vistrelle::netlocal
