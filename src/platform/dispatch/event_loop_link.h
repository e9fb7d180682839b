#pragma once

#include <shared_mutex>

namespace vistrelle::dispatch {

class EventLoop;

// What a readiness source holds to reach its loop.  The loop clears it when it
// goes, so a source that outlives the runtime (a socket kept in a static, say)
// finds nothing to unregister from instead of freed memory.
struct EventLoopLink {
  std::shared_mutex mutex;
  EventLoop* loop = nullptr;
};

}  // namespace vistrelle::dispatch
