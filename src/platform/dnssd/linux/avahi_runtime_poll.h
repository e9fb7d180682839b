#pragma once

#include <avahi-common/watch.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/dispatch/io_source.h"

namespace vistrelle::dispatch {
class Reactor;
}

namespace vistrelle::dnssd {

// avahi-client's event loop interface on the runtime: descriptor watches
// become the reactor's read and write sources and time-outs become delayed
// tasks, all delivered on one queue, the queue every avahi call is made on
// (avahi-client is not thread-safe).  Created, used and destroyed on that
// queue; the client using it must be freed first.
class AvahiRuntimePoll {
 public:
  AvahiRuntimePoll(dispatch::ExecutorPtr queue, dispatch::Reactor& reactor);
  ~AvahiRuntimePoll();
  AvahiRuntimePoll(const AvahiRuntimePoll&) = delete;
  AvahiRuntimePoll& operator=(const AvahiRuntimePoll&) = delete;

  const AvahiPoll* api() const { return &api_; }

  // Live watches and time-outs, for tests of the adapter.
  size_t watchCount() const { return watches_.size(); }
  size_t timeoutCount() const { return timeouts_.size(); }

 private:
  // One read and one write source per descriptor (the reactor allows no
  // more), shared by every watch on it.
  struct Descriptor {
    dispatch::IoSourcePtr reader;
    dispatch::IoSourcePtr writer;
    bool reading = false;  // reader resumed
    bool writing = false;  // writer resumed
    std::vector<AvahiWatch*> watches;
  };

  static AvahiWatch* watchNew(const AvahiPoll* api, int fd, AvahiWatchEvent events,
                              AvahiWatchCallback callback, void* userdata);
  static void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events);
  static AvahiWatchEvent watchGetEvents(AvahiWatch* watch);
  static void watchFree(AvahiWatch* watch);
  static AvahiTimeout* timeoutNew(const AvahiPoll* api, const struct timeval* tv,
                                  AvahiTimeoutCallback callback, void* userdata);
  static void timeoutUpdate(AvahiTimeout* timeout, const struct timeval* tv);
  static void timeoutFree(AvahiTimeout* timeout);

  Descriptor& descriptorFor(int fd);
  // Resumes or suspends the descriptor's sources to match its watches.
  void refresh(int fd);
  void dispatch(int fd, dispatch::IoKind kind);
  void arm(AvahiTimeout* timeout, const struct timeval* tv);
  void fire(AvahiTimeout* timeout, uint64_t id);

  AvahiPoll api_{};
  const dispatch::ExecutorPtr queue_;
  dispatch::Reactor& reactor_;
  std::map<int, Descriptor> descriptors_;
  // Live objects by address, with a serial number: a freed watch whose
  // address is reused by a new one is never mistaken for it.
  std::map<AvahiWatch*, uint64_t> watches_;
  std::map<AvahiTimeout*, uint64_t> timeouts_;
  uint64_t nextId_ = 1;
};

}  // namespace vistrelle::dnssd
