#include "sim/glasses/sim_report_fault.h"

#include <limits>

namespace vistrelle::sim {

SimReportFault SimReportFault::dropped() {
  SimReportFault fault;
  fault.drop = true;
  return fault;
}

SimReportFault SimReportFault::delayed(dispatch::Nanos by) {
  SimReportFault fault;
  fault.delay = by;
  return fault;
}

SimReportFault SimReportFault::nanAt(std::vector<size_t> offsets) {
  SimReportFault fault;
  for (const size_t offset : offsets) {
    fault.f32Patches.emplace_back(offset, std::numeric_limits<float>::quiet_NaN());
  }
  return fault;
}

}  // namespace vistrelle::sim
