#pragma once

#include <map>
#include <mutex>

#include "platform/settings/user_defaults.h"

namespace vistrelle {

// A store that keeps everything in memory and counts writes, for tests.  It
// refuses what the file store refuses.
class InMemoryUserDefaults final : public UserDefaults {
 public:
  std::optional<Value> objectForKey(const std::string& key) const override;
  void setObject(const std::string& key, Value value) override;
  void removeObjectForKey(const std::string& key) override;
  bool synchronize() override;

  size_t writeCount() const;
  std::map<std::string, Value> snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Value> values_;
  size_t writes_ = 0;
  bool lastWriteRefused_ = false;
};

}  // namespace vistrelle
