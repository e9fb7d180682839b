#pragma once

#include <cstdint>
#include <memory>

namespace vistrelle::cloud {

class HttpClientCore;

// A request that was started, for cancelling it.  The handle of a request
// that never went out (the login gate stopped it) cancels nothing.
class RequestHandle {
 public:
  RequestHandle() = default;
  RequestHandle(std::weak_ptr<HttpClientCore> core, uint64_t id)
      : core_(std::move(core)), id_(id) {}

  // Ends the request with the cancel error, unless it already ended: from
  // the moment this runs on the main queue, no success block or successful
  // completion of it runs.  Any thread (posted to the main queue).
  void cancel() const;

  bool valid() const { return id_ != 0; }
  uint64_t id() const { return id_; }

 private:
  std::weak_ptr<HttpClientCore> core_;
  uint64_t id_ = 0;
};

}  // namespace vistrelle::cloud
