#pragma once

#include <mutex>

#include "platform/mediakeys/media_key_source.h"

namespace vistrelle::mediakeys {

// A source the test presses keys on: press() hands the event to the handler
// at once, on the test's thread, while the source runs.
class FakeMediaKeySource final : public MediaKeySource {
 public:
  bool start(Handler handler, std::string* error) override;
  void stop() override;

  // False when the source is not running (nothing delivered).
  bool press(const MediaKeyEvent& event);
  int startCount() const;
  bool running() const;
  // The next start fails with `reason` (empty: starts succeed again).
  void failStarts(std::string reason);

 private:
  mutable std::mutex mutex_;
  Handler handler_;
  int starts_ = 0;
  std::string failure_;
};

}  // namespace vistrelle::mediakeys
