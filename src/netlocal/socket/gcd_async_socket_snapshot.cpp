#include "netlocal/socket/gcd_async_socket_snapshot.h"

namespace vistrelle::netlocal {

void GCDAsyncSocketSnapshot::publishEndpoints(Endpoints endpoints) {
  auto published = std::make_shared<const Endpoints>(std::move(endpoints));
  std::lock_guard lock(mutex_);
  endpoints_.swap(published);  // the old one goes after the lock
}

void GCDAsyncSocketSnapshot::clearEndpoints() {
  publishEndpoints(Endpoints{});
}

std::shared_ptr<const GCDAsyncSocketSnapshot::Endpoints> GCDAsyncSocketSnapshot::endpoints() const {
  std::lock_guard lock(mutex_);
  return endpoints_;
}

void GCDAsyncSocketSnapshot::publishDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                             dispatch::ExecutorPtr delegateQueue) {
  std::lock_guard lock(mutex_);
  delegate_.swap(delegate);
  delegateQueue_.swap(delegateQueue);
}

std::weak_ptr<GCDAsyncSocketDelegate> GCDAsyncSocketSnapshot::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

dispatch::ExecutorPtr GCDAsyncSocketSnapshot::delegateQueue() const {
  std::lock_guard lock(mutex_);
  return delegateQueue_;
}

void GCDAsyncSocketSnapshot::publishProgress(Side side, Progress progress) {
  std::lock_guard lock(mutex_);
  (side == Side::Read ? read_ : write_) = progress;
}

GCDAsyncSocketSnapshot::Progress GCDAsyncSocketSnapshot::progress(Side side) const {
  std::lock_guard lock(mutex_);
  return side == Side::Read ? read_ : write_;
}

std::any GCDAsyncSocketSnapshot::userData() const {
  std::lock_guard lock(mutex_);
  return userData_;
}

void GCDAsyncSocketSnapshot::setUserData(std::any data) {
  std::lock_guard lock(mutex_);
  userData_.swap(data);  // the old value goes after the lock
}

}  // namespace vistrelle::netlocal
