#include "platform/settings/fake/in_memory_user_defaults.h"

namespace vistrelle {

std::optional<Value> InMemoryUserDefaults::objectForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end() || found->second.isNull()) return std::nullopt;
  return found->second;
}

void InMemoryUserDefaults::setObject(const std::string& key, Value value) {
  std::lock_guard lock(mutex_);
  lastWriteRefused_ = refusalReason(key, value).has_value();
  if (lastWriteRefused_) return;
  values_[key] = std::move(value);
  ++writes_;
}

void InMemoryUserDefaults::removeObjectForKey(const std::string& key) {
  std::lock_guard lock(mutex_);
  lastWriteRefused_ = false;
  if (values_.erase(key) > 0) ++writes_;
}

bool InMemoryUserDefaults::synchronize() {
  std::lock_guard lock(mutex_);
  return !lastWriteRefused_;
}

size_t InMemoryUserDefaults::writeCount() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::map<std::string, Value> InMemoryUserDefaults::snapshot() const {
  std::lock_guard lock(mutex_);
  return values_;
}

}  // namespace vistrelle
