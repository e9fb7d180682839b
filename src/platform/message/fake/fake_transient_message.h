#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message/transient_message.h"

namespace vistrelle::message {

// Records every text presented, with the thread it was presented on.
class FakeTransientMessage final : public TransientMessage {
 public:
  struct Shown {
    std::string text;
    std::thread::id thread;
  };

  void present(const std::string& text) override;

  std::vector<Shown> shown() const;
  std::vector<std::string> texts() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Shown> shown_;
};

}  // namespace vistrelle::message
