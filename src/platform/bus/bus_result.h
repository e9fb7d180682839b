#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "platform/bus/bus_error.h"

namespace vistrelle::bus {

// A value or the reason there is none.
template <class T>
class BusResult {
 public:
  BusResult(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
  BusResult(BusError error) : storage_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return storage_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  const T& value() const& { return std::get<0>(storage_); }
  T& value() & { return std::get<0>(storage_); }
  T&& value() && { return std::get<0>(std::move(storage_)); }
  // Only when !ok().
  const BusError& error() const { return std::get<1>(storage_); }

 private:
  std::variant<T, BusError> storage_;
};

template <>
class BusResult<void> {
 public:
  BusResult() = default;
  BusResult(BusError error) : error_(std::move(error)) {}

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  const BusError& error() const { return *error_; }

 private:
  std::optional<BusError> error_;
};

}  // namespace vistrelle::bus
