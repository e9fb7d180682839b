#pragma once

#include <atomic>

#include "platform/compositing/compositing_manager.h"

namespace vistrelle::compositing {

// Answers what the test set, and counts the questions.
class FakeCompositingManager final : public CompositingManager {
 public:
  explicit FakeCompositingManager(bool active = false) : active_(active) {}

  bool isActive() override;
  void setActive(bool active) { active_ = active; }
  int queries() const { return queries_; }

 private:
  std::atomic<bool> active_;
  std::atomic<int> queries_{0};
};

}  // namespace vistrelle::compositing
