#pragma once

#include <memory>
#include <string>

namespace vistrelle::message {

// A short text shown to the user for a moment (a toast), wanted from below
// the user interface: the HTTP layer, the account session, the calibration
// panel, the 3D manager.  They call show() from any thread; the process-wide
// implementation presents it on the main queue.  The user interface installs
// its toast; until then the default writes the text to a log sink.
class TransientMessage {
 public:
  virtual ~TransientMessage() = default;

  // Runs on the main queue.
  virtual void present(const std::string& text) = 0;

  // Safe from any thread.  The text goes to whichever implementation is
  // installed when the main queue gets to it.  Without a dispatch runtime
  // (no main queue yet, or none any more) it is presented at once.
  static void show(std::string text);

  // Installs the process-wide implementation; null puts the default back.
  // Safe while other threads show texts.
  static void install(std::shared_ptr<TransientMessage> implementation);
  static std::shared_ptr<TransientMessage> installed();
};

}  // namespace vistrelle::message
