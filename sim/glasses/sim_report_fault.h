#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/dispatch/clock.h"

namespace vistrelle::sim {

// How the simulated glasses misbehave when they send one kind of report.
struct SimReportFault {
  bool drop = false;
  // Delivered this long after it would have been (on the executor's clock).
  std::optional<dispatch::Nanos> delay;
  // Written into bytes 0-1 in place of the true length.
  std::optional<uint16_t> lengthField;
  // Fewer bytes handed over than the report has (the rest is cut off).
  std::optional<size_t> deliveredLength;
  // Floats written over the report's fields, e.g. a NaN at one offset.
  std::vector<std::pair<size_t, float>> f32Patches;

  static SimReportFault dropped();
  static SimReportFault delayed(dispatch::Nanos by);
  static SimReportFault nanAt(std::vector<size_t> offsets);
};

}  // namespace vistrelle::sim
