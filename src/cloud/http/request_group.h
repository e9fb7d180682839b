#pragma once

#include <string>
#include <utility>

namespace vistrelle::cloud {

// The group a request belongs to, so that one caller can cancel its own
// transfers (the account session on sign-out) and leave the others (the
// update download) alone.
class RequestGroup {
 public:
  explicit RequestGroup(std::string name) : name_(std::move(name)) {}

  // Every request that names no group.
  static RequestGroup general() { return RequestGroup("general"); }

  const std::string& name() const { return name_; }
  bool operator==(const RequestGroup& other) const = default;

 private:
  std::string name_;
};

}  // namespace vistrelle::cloud
