#pragma once

#include <cstdint>

#include "platform/value/value.h"

namespace vistrelle::device {

// One temperature-bias record as the glasses report it (group 12, command 6):
// the record kind (1 factory table, 2 user table), its byte offset and length
// inside the glasses' table, and the gyro bias at one temperature.
struct BiasRecord {
  uint8_t kind = 0;
  uint8_t offset = 0;
  uint8_t length = 0;
  float temperature = 0;
  float x = 0;
  float y = 0;
  float z = 0;

  // The companion application's form: [kind, offset, length, temperature,
  // x, y, z, kind], the kind repeated at the end.
  Value toValue() const {
    return Value::List{Value(int{kind}), Value(int{offset}), Value(int{length}), Value(temperature),
                       Value(x),         Value(y),           Value(z),           Value(int{kind})};
  }

  bool operator==(const BiasRecord&) const = default;
};

}  // namespace vistrelle::device
