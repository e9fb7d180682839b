#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/settings/user_defaults.h"

namespace vistrelle {

// Defaults kept in one JSON object on disk.  Every change rewrites the file
// atomically (temporary file, fsync, rename) so a crash leaves either the old
// or the new contents.  The folder is created 0700 and the file 0600: the
// account session keeps its tokens here.  A file that does not parse is kept
// aside as "<name>.bad" and reported, never silently overwritten.
class JsonFileUserDefaults final : public UserDefaults {
 public:
  using Diagnostics = std::function<void(const std::string&)>;

  explicit JsonFileUserDefaults(std::string path, Diagnostics diagnostics = {});

  std::optional<Value> objectForKey(const std::string& key) const override;
  void setObject(const std::string& key, Value value) override;
  void removeObjectForKey(const std::string& key) override;
  bool synchronize() override;

  const std::string& path() const { return path_; }
  // Files written since construction.
  size_t writeCount() const;

 private:
  void load();
  bool persist();  // mutex_ held

  const std::string path_;
  Diagnostics diagnostics_;
  mutable std::mutex mutex_;
  std::map<std::string, Value> values_;
  size_t writes_ = 0;
  bool healthy_ = true;
};

}  // namespace vistrelle
