#include "platform/message/fake/fake_transient_message.h"

namespace vistrelle::message {

void FakeTransientMessage::present(const std::string& text) {
  std::lock_guard lock(mutex_);
  shown_.push_back({text, std::this_thread::get_id()});
}

std::vector<FakeTransientMessage::Shown> FakeTransientMessage::shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

std::vector<std::string> FakeTransientMessage::texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const Shown& shown : shown_) texts.push_back(shown.text);
  return texts;
}

}  // namespace vistrelle::message
