#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::dispatch {

// What a blocking `start` needs to be ended from another thread: an eventfd
// that stop() makes readable (so a poll() wakes at once), and a running flag
// that the owner's destructor can wait on, so the object never dies under a
// thread still inside `start`.
class MonitorLoop {
 public:
  MonitorLoop();  // throws std::system_error when no eventfd can be made
  ~MonitorLoop();
  MonitorLoop(const MonitorLoop&) = delete;
  MonitorLoop& operator=(const MonitorLoop&) = delete;

  // Brackets one run of `start`.  enter() throws std::logic_error when a run
  // is already going on; leave() clears the stop request for the next run.
  void enter();
  void leave();

  // Ends the current run, or the next one at once if none is going on.
  void requestStop();
  bool stopRequested() const;
  int stopFd() const { return stopFd_.get(); }

  // Waits up to `timeout` for a stop request; true when one came.
  bool waitForStop(Nanos timeout) const;

  // requestStop(), then waits until no run is going on.
  void stopAndWait();

 private:
  UniqueFd stopFd_;
  std::mutex mutex_;
  std::condition_variable idle_;
  bool running_ = false;
};

}  // namespace vistrelle::dispatch
