#pragma once

#include <string>
#include <utility>
#include <variant>

namespace vistrelle::display {

struct DisplayError {
  enum class Kind {
    NoServer,  // no display server could be reached
    Lost,      // the connection broke (the server went away)
    Timeout,   // the server did not answer in time
    Refused,   // the server refused the request (a failed CRTC set, an Xwayland server)
    Invalid,   // the request names something that is not there (an unknown or inactive output)
  };
  Kind kind = Kind::Refused;
  std::string reason;
};

// A value or the reason there is none.
template <class T>
class DisplayResult {
 public:
  DisplayResult(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
  DisplayResult(DisplayError error) : storage_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return storage_.index() == 0; }
  explicit operator bool() const { return ok(); }
  // Only when ok().
  const T& value() const& { return std::get<0>(storage_); }
  T&& value() && { return std::get<0>(std::move(storage_)); }
  // Only when !ok().
  const DisplayError& error() const { return std::get<1>(storage_); }

 private:
  std::variant<T, DisplayError> storage_;
};

template <>
class DisplayResult<void> {
 public:
  DisplayResult() = default;
  DisplayResult(DisplayError error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const DisplayError& error() const { return error_; }

 private:
  DisplayError error_;
  bool failed_ = false;
};

}  // namespace vistrelle::display
