#include "platform/message/transient_message.h"

#include <mutex>
#include <utility>

#include "platform/dispatch/runtime.h"
#include "platform/message/logging_transient_message.h"

namespace vistrelle::message {

namespace {

struct Installed {
  std::mutex mutex;
  std::shared_ptr<TransientMessage> implementation;
};

Installed& slot() {
  static Installed* installed = new Installed;  // lives past every static destructor
  return *installed;
}

void presentNow(const std::string& text) {
  std::shared_ptr<TransientMessage> implementation = TransientMessage::installed();
  implementation->present(text);
}

}  // namespace

void TransientMessage::show(std::string text) {
  if (!dispatch::Runtime::installed()) {
    presentNow(text);
    return;
  }
  dispatch::mainQueue()->post([text = std::move(text)] { presentNow(text); });
}

void TransientMessage::install(std::shared_ptr<TransientMessage> implementation) {
  Installed& installed = slot();
  std::shared_ptr<TransientMessage> previous;
  {
    std::lock_guard lock(installed.mutex);
    previous = std::exchange(installed.implementation, std::move(implementation));
  }
  // The old one goes outside the lock: its destructor may show a text.
}

std::shared_ptr<TransientMessage> TransientMessage::installed() {
  Installed& installed = slot();
  std::lock_guard lock(installed.mutex);
  if (!installed.implementation) {
    installed.implementation = std::make_shared<LoggingTransientMessage>();
  }
  return installed.implementation;
}

}  // namespace vistrelle::message
