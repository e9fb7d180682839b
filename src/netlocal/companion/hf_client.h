#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/executor.h"
#include "platform/dispatch/timer_source.h"

namespace vistrelle::netlocal {

// Writes numbered ping lines ("Ping 0\n", "Ping 1\n", ...) to a descriptor
// every 2 ms.  Each start adds a stream with its own counter from 0; a stream
// ends at its first failed write (the system error is printed with the prefix
// "write") or at stop().
//
// The descriptor is -1, "unset", until someone sets one, and a start while it
// is unset starts nothing: a stream aimed at descriptor 0 would write into the
// process' standard input for ever.  Writes never raise SIGPIPE and never
// wait: a socket whose buffer is full skips that ping.
class HFClient {
 public:
  static constexpr std::chrono::nanoseconds kInterval = std::chrono::milliseconds(2);

  struct Options {
    // Where the streams' timers run; default: the global queue.
    dispatch::ExecutorPtr queue;
    // Receives "write: <system error>" for a failed write; default: standard
    // error.
    std::function<void(const std::string&)> printError;
  };

  HFClient();
  explicit HFClient(Options options);
  // Ends every stream.
  ~HFClient();
  HFClient(const HFClient&) = delete;
  HFClient& operator=(const HFClient&) = delete;

  // The same operation as startSending.
  void startClient() { startSending(); }
  // Starts one more stream (none while the descriptor is unset); returns at
  // once.
  void startSending();
  // Ends every stream; a firing under way finishes first.  Safe from any
  // thread.
  void stop();

  int32_t clientSocket() const;
  void setClientSocket(int32_t fd);

  // Streams still running.
  size_t streamCount() const;

 private:
  struct Stream;
  // What the timers' handlers reach: shared, so that a firing under way when
  // the client goes never touches a destroyed object.
  struct Core;

  std::shared_ptr<Core> core_;
  dispatch::ExecutorPtr queue_;
};

}  // namespace vistrelle::netlocal
