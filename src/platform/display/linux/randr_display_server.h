// RandrDisplayServer: the display layout of an X server through RandR 1.3+,
// the pointer nudge through XTest.  One connection, made at the first call
// and again after it broke or a call timed out (its state is then unknown),
// behind one gate.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/stop_registration.h"
#include "platform/display/display_server.h"
#include "platform/display/linux/timed_gate.h"

namespace vistrelle::display {

class XcbConnection;

class RandrDisplayServer final : public DisplayServer {
 public:
  // `displayName` empty: the desktop's own display ($DISPLAY); changes are
  // then refused in a Wayland session, whose compositor owns the displays
  // (its Xwayland only mirrors them).
  explicit RandrDisplayServer(std::string displayName = {});
  ~RandrDisplayServer() override;
  RandrDisplayServer(const RandrDisplayServer&) = delete;
  RandrDisplayServer& operator=(const RandrDisplayServer&) = delete;

  DisplayResult<DisplayLayout> layout(bool probe, std::chrono::milliseconds limit) override;
  DisplayResult<void> apply(const LayoutChange& change, std::chrono::milliseconds limit) override;
  DisplayResult<void> nudgePointer(std::chrono::milliseconds limit) override;

  // Closes the connection for good: later calls answer NoServer.  Registered
  // with the runtime's stops at the first call made while one is installed.
  void close();

 private:
  // Fails when closed; registers the stop once.
  DisplayResult<void> admit();
  // The live connection (made now when there is none); inside the gate.
  DisplayResult<XcbConnection*> connection();
  // A failed call leaves the connection in an unknown state (answers still
  // on their way, a server that stopped): the next call starts afresh.
  void dropAfter(const DisplayError& error);

  const std::string displayName_;
  TimedGate gate_;
  std::unique_ptr<XcbConnection> connection_;
  std::atomic<bool> closed_ = false;
  std::mutex stopMutex_;
  // Last: dropped first, so a stop running now finishes before the rest goes.
  dispatch::StopRegistration stop_;
};

}  // namespace vistrelle::display
