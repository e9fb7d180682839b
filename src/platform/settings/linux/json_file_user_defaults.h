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
// account session keeps its tokens here.
//
// A file that does not parse (or nests deeper than kMaxDepth) is moved aside
// to "<name>.bad", or "<name>.bad.1", ".bad.2", ... when that name is taken,
// and reported; an earlier file kept aside is never replaced.  A file that
// cannot be read or moved aside is never written over: the store then keeps
// changes in memory only and synchronize() answers false.  Integers above
// the signed 64-bit range read as absent.
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
  void keepAside();
  void refuseWrites(const std::string& why);
  bool persist();  // mutex_ held

  const std::string path_;
  Diagnostics diagnostics_;
  mutable std::mutex mutex_;
  std::map<std::string, Value> values_;
  size_t writes_ = 0;
  bool healthy_ = true;
  // False when the file on disk must not be replaced.
  bool writable_ = true;
};

}  // namespace vistrelle
