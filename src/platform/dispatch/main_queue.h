#pragma once

#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {

// The queue of the application's main thread.  Headless programs and tests run
// `EventLoop`; the desktop application runs an adapter onto Qt's loop (ui/).
class MainQueue : public Executor {
 public:
  // Runs the loop on the calling thread until quit() is called.
  virtual int run() = 0;
  // Ends run() with the given status once the task running now returns.
  virtual void quit(int status = 0) = 0;
};

}  // namespace vistrelle::dispatch
